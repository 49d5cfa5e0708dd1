// The umbrella header of our UI library stand-in: system code includes this where the original
// includes the library's own umbrella header.
#pragma once

#include "duilib/UIBase.h"
#include "duilib/UIControl.h"
#include "duilib/UIContainer.h"
#include "duilib/UICommonControls.h"
#include "duilib/UIList.h"
#include "duilib/UIManager.h"
#include "duilib/UIDlgBuilder.h"
#include "duilib/UIWindow.h"
