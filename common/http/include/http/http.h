// The HTTP client library in one include.
#pragma once

#include "http/Base64Coder.h"
#include "http/HTTPClient.h"
#include "http/HTTPClientObserver.h"
#include "http/HTTPCookie.h"
#include "http/HTTPMessage.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "http/NameValueCollection.h"
#include "http/URI.h"
