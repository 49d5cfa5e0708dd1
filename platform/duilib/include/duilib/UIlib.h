// The umbrella header of our UI library stand-in. The system targets 32-bit Windows with the
// skinned-window library; built here, its code includes this header where it would include that
// library's umbrella header.
#pragma once

#include "duilib/UIBase.h"
#include "duilib/UIControl.h"
#include "duilib/UIContainer.h"
#include "duilib/UICommonControls.h"
#include "duilib/UIList.h"
#include "duilib/UIManager.h"
#include "duilib/UIDlgBuilder.h"
#include "duilib/UIWindow.h"
