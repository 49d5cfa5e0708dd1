#include "corvane/XcapClient.h"

#include "http/HTTPClient.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"
#include "sso/SsoClient.h"
#include "sso/SsoCookieManager.h"
#include "util/CodingTransform.h"
#include "util/Config.h"
#include "util/StringParser.h"

#include <ace/Guard_T.h>
#include <ace/Message_Block.h>
#include <ace/Singleton.h>

#include <cerrno>
#include <new>

const char* const XcapClient::SYSTEM_ID = "xcap";
const char* const XcapClient::ERROR_RETURN_URL = "http://127.0.0.1/xcap/error";
const char* const XcapClient::ELEMENT_CONTENT_TYPE = "application/xcap-el+xml";
const char* const XcapClient::ATTRIBUTE_CONTENT_TYPE = "application/xcap-att+xml";

namespace {

// The first block of a streamed body is never made larger than this, whatever the server
// announces; it grows by doubling as the data really arrives.
const size_t kMaxInitialBodyBlock = 1024 * 1024;

}  // namespace

struct XcapClient::RequestShape {
  const std::string* method;
  const char* conditionHeader;    // null: none
  const std::string* etag;        // with conditionHeader
  const std::string* contentType; // null: no body
  const std::string* body;
};

// ---- construction ----

XcapClient::XcapClient(const std::string& user, const std::string& password,
                       const std::string& host, int port, const XcapClientFactory& factory,
                       const AuthenticateMode& authenticateMode, const DownloadMode& downloadMode)
    : user_(user), password_(password), hostPort_(host + ":" + std::to_string(port)),
      authenticateMode_(authenticateMode), downloadMode_(downloadMode),
      xcapRoot_(factory.getXcapRoot()), httpClient_(0),
      maxBodySize_(HTTPClient::DEFAULT_MAX_BODY_SIZE), body_(0), bodyFailed_(false) {
  httpClient_ = new HTTPClient(host, port);
  httpClient_->setMaxBodySize(maxBodySize_);
  int recvTimeout = Config::instance()->getIntValue("XCAP", "recvTimeout", 15);
  int sendTimeout = Config::instance()->getIntValue("XCAP", "sendTimeout", 10);
  httpClient_->setTimeout(recvTimeout, sendTimeout);
}

XcapClient::~XcapClient() {
  delete httpClient_;
  freeBody();
}

void XcapClient::setMaxBodySize(size_t bytes) {
  maxBodySize_ = bytes;
  httpClient_->setMaxBodySize(bytes);
}

void XcapClient::cancel() {
  if (downloadMode_ == DOWNLOAD_STREAMED && httpClient_ != 0) httpClient_->cancel();
}

void XcapClient::stop() {
  if (httpClient_ != 0) httpClient_->stop();
}

void XcapClient::freeBody() {
  if (body_ != 0) {
    body_->release();
    body_ = 0;
  }
}

// ---- cookies ----

void XcapClient::saveCookies(HTTPResponse& response) {
  if (authenticateMode_ == AUTH_SSO) SsoCookieManager::saveCookies(SYSTEM_ID, user_, response);
}

void XcapClient::restoreCookies(HTTPRequest& request) {
  if (authenticateMode_ == AUTH_SSO) SsoCookieManager::restoreCookie(SYSTEM_ID, user_, request);
}

void XcapClient::clearCookies() {
  if (authenticateMode_ == AUTH_SSO) SsoCookieManager::clearCookie(user_);
}

bool XcapClient::hasCookie() {
  return authenticateMode_ == AUTH_SSO && SsoCookieManager::hasCookie(SYSTEM_ID, user_);
}

// ---- requests ----

int XcapClient::generateUri(const std::string& relativePath, std::string& requestUri) {
  IM_TRACE("XcapClient::generateUri");
  // The same encoded path goes on the wire in both forms, and the ticket is asked for the
  // service the server will see.
  // relativePath is already encoded (XcapUri::toRequestPath).
  std::string path = CodingTransform::urlencode(xcapRoot_, false, false) + relativePath;
  if (authenticateMode_ != AUTH_SSO || hasCookie()) {
    requestUri = path;
    return 0;
  }
  std::string service = "http://" + hostPort_ + path;
  std::string ticket;
  std::string location;
  SsoClient* sso = SsoClient::instance();
  int rc = sso != 0 ? sso->authenticate(user_, password_, service, ERROR_RETURN_URL, SYSTEM_ID,
                                        ticket, location, "")
                    : -1;
  if (rc != 0) {
    IM_LOG_ERROR("Corvane, [userId = %s, xcapUri = %s, reason = SSO Authenticate Failed]",
                 user_.c_str(), service.c_str());
    return -1;
  }
  if (Config::instance()->getBoolValue("XCAP", "enableProxyMode", false)) {
    requestUri = location;
  } else {
    requestUri = path + (path.find('?') == std::string::npos ? "?" : "&") + "ticket=" +
                 CodingTransform::urlencode(ticket, true, false);
  }
  return 0;
}

int XcapClient::httpMethodExec(HTTPRequest& request, HTTPResponse& response) {
  IM_TRACE("XcapClient::httpMethodExec");
  restoreCookies(request);
  int rc;
  if (downloadMode_ == DOWNLOAD_STREAMED) {
    freeBody();
    bodyFailed_ = false;
    httpClient_->setObserver(this);
    rc = httpClient_->invoke(request, response);
    httpClient_->setObserver(0);
    // A body left over from an aborted exchange must not reach the next one.
    freeBody();
    if (bodyFailed_) {
      // The body could not be kept whole: never hand a truncated document on as complete.
      response.clearBody();
      bodyFailed_ = false;
      return -1;
    }
  } else {
    rc = httpClient_->call(request, response);
  }
  if (rc == -1) {
    response.clearBody();  // what arrived before the failure is no document
    // A cancelled or stopped request says nothing about the session: the cookies stay.
    if (httpClient_->getLastError() != "cancelled") clearCookies();
    return -1;
  }
  saveCookies(response);
  return 0;
}

int XcapClient::send(const XcapUri& uri, const RequestShape& shape, HTTPResponse& response) {
  std::string requestUri;
  if (generateUri(uri.toRequestPath(), requestUri) == -1) return -1;
  HTTPRequest request(*shape.method, requestUri, HTTPMessage::HTTP_1_1);
  request.setHost(hostPort_);
  if (shape.contentType != 0) request.setContentType(*shape.contentType);
  if (shape.conditionHeader != 0) request.set(shape.conditionHeader, *shape.etag);
  if (shape.contentType != 0) {
    request.setContentLength(static_cast<long long>(shape.body->size()));
    request.setBody(shape.body->data(), shape.body->size());
  }
  return httpMethodExec(request, response);
}

int XcapClient::sendWithRetry(const XcapUri& uri, const RequestShape& shape,
                              HTTPResponse& response) {
  ACE_Guard<ACE_Thread_Mutex> guard(requestLock_);
  try {
    int rc = send(uri, shape, response);
    if (rc != -1 && authenticateMode_ == AUTH_SSO && response.getStatus() == 302) {
      // The session is gone: forget the cookies so that a fresh ticket is fetched.
      clearCookies();
      rc = send(uri, shape, response);
    }
    return rc;
  } catch (...) {
    freeBody();
    return -1;
  }
}

// ---- the slots ----

#define XCAP_SHAPE(var, method, cond, etag, ctype, body) \
  RequestShape var = {&(method), (cond), (etag), (ctype), (body)}

int XcapClient::getDocument(const DocumentUri& uri, HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_GET, 0, 0, 0, 0);
  return sendWithRetry(uri, s, response);
}

int XcapClient::getElement(const ElementUri& uri, HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_GET, 0, 0, 0, 0);
  return sendWithRetry(uri, s, response);
}

int XcapClient::getAttribute(const AttributeUri& uri, HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_GET, 0, 0, 0, 0);
  return sendWithRetry(uri, s, response);
}

int XcapClient::putDocument(const DocumentUri& uri, const std::string& contentType,
                            const std::string& body, HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_PUT, 0, 0, &contentType, &body);
  return sendWithRetry(uri, s, response);
}

int XcapClient::putDocumentIfMatch(const DocumentUri& uri, const std::string& etag,
                                   const std::string& contentType, const std::string& body,
                                   HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_PUT, HTTPMessage::IF_MATCH.c_str(), &etag, &contentType, &body);
  return sendWithRetry(uri, s, response);
}

int XcapClient::putDocumentIfNoneMatch(const DocumentUri& uri, const std::string& etag,
                                       const std::string& contentType, const std::string& body,
                                       HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_PUT, HTTPMessage::IF_NONE_MATCH.c_str(), &etag, &contentType,
             &body);
  return sendWithRetry(uri, s, response);
}

int XcapClient::putElement(const ElementUri& uri, const std::string& body,
                           HTTPResponse& response) {
  const std::string type(ELEMENT_CONTENT_TYPE);
  XCAP_SHAPE(s, HTTPRequest::HTTP_PUT, 0, 0, &type, &body);
  return sendWithRetry(uri, s, response);
}

int XcapClient::putElementIfMatch(const ElementUri& uri, const std::string& etag,
                                  const std::string& body, HTTPResponse& response) {
  const std::string type(ELEMENT_CONTENT_TYPE);
  XCAP_SHAPE(s, HTTPRequest::HTTP_PUT, HTTPMessage::IF_MATCH.c_str(), &etag, &type, &body);
  return sendWithRetry(uri, s, response);
}

int XcapClient::putElementIfNoneMatch(const ElementUri& uri, const std::string& etag,
                                      const std::string& body, HTTPResponse& response) {
  const std::string type(ELEMENT_CONTENT_TYPE);
  XCAP_SHAPE(s, HTTPRequest::HTTP_PUT, HTTPMessage::IF_NONE_MATCH.c_str(), &etag, &type, &body);
  return sendWithRetry(uri, s, response);
}

int XcapClient::putAttribute(const AttributeUri& uri, const std::string& body,
                             HTTPResponse& response) {
  const std::string type(ATTRIBUTE_CONTENT_TYPE);
  XCAP_SHAPE(s, HTTPRequest::HTTP_PUT, 0, 0, &type, &body);
  return sendWithRetry(uri, s, response);
}

int XcapClient::putAttributeIfMatch(const AttributeUri& uri, const std::string& etag,
                                    const std::string& body, HTTPResponse& response) {
  const std::string type(ATTRIBUTE_CONTENT_TYPE);
  XCAP_SHAPE(s, HTTPRequest::HTTP_PUT, HTTPMessage::IF_MATCH.c_str(), &etag, &type, &body);
  return sendWithRetry(uri, s, response);
}

int XcapClient::putAttributeIfNoneMatch(const AttributeUri& uri, const std::string& etag,
                                        const std::string& body, HTTPResponse& response) {
  const std::string type(ATTRIBUTE_CONTENT_TYPE);
  XCAP_SHAPE(s, HTTPRequest::HTTP_PUT, HTTPMessage::IF_NONE_MATCH.c_str(), &etag, &type, &body);
  return sendWithRetry(uri, s, response);
}

int XcapClient::deleteDocument(const DocumentUri& uri, HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_DELETE, 0, 0, 0, 0);
  return sendWithRetry(uri, s, response);
}

int XcapClient::deleteDocumentIfMatch(const DocumentUri& uri, const std::string& etag,
                                      HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_DELETE, HTTPMessage::IF_MATCH.c_str(), &etag, 0, 0);
  return sendWithRetry(uri, s, response);
}

int XcapClient::deleteDocumentIfNoneMatch(const DocumentUri& uri, const std::string& etag,
                                          HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_DELETE, HTTPMessage::IF_NONE_MATCH.c_str(), &etag, 0, 0);
  return sendWithRetry(uri, s, response);
}

int XcapClient::deleteElement(const ElementUri& uri, HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_DELETE, 0, 0, 0, 0);
  return sendWithRetry(uri, s, response);
}

int XcapClient::deleteElementIfMatch(const ElementUri& uri, const std::string& etag,
                                     HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_DELETE, HTTPMessage::IF_MATCH.c_str(), &etag, 0, 0);
  return sendWithRetry(uri, s, response);
}

int XcapClient::deleteElementIfNoneMatch(const ElementUri& uri, const std::string& etag,
                                         HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_DELETE, HTTPMessage::IF_NONE_MATCH.c_str(), &etag, 0, 0);
  return sendWithRetry(uri, s, response);
}

int XcapClient::deleteAttribute(const AttributeUri& uri, HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_DELETE, 0, 0, 0, 0);
  return sendWithRetry(uri, s, response);
}

int XcapClient::deleteAttributeIfMatch(const AttributeUri& uri, const std::string& etag,
                                       HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_DELETE, HTTPMessage::IF_MATCH.c_str(), &etag, 0, 0);
  return sendWithRetry(uri, s, response);
}

int XcapClient::deleteAttributeIfNoneMatch(const AttributeUri& uri, const std::string& etag,
                                           HTTPResponse& response) {
  XCAP_SHAPE(s, HTTPRequest::HTTP_DELETE, HTTPMessage::IF_NONE_MATCH.c_str(), &etag, 0, 0);
  return sendWithRetry(uri, s, response);
}

#undef XCAP_SHAPE

// ---- streamed body ----

int XcapClient::onHttpEvent(int kind, HTTPMessage* msg, ACE_Message_Block* mb) {
  try {
    return handleEvent(kind, msg, mb);
  } catch (...) {
    // Nothing may escape into the HTTP library: the exchange fails instead.
    freeBody();
    bodyFailed_ = true;
    if (mb != 0) mb->reset();
    return 0;
  }
}

int XcapClient::handleEvent(int kind, HTTPMessage* msg, ACE_Message_Block* mb) {
  switch (kind) {
    case HTTPClientObserver::EV_HEAD: {
      freeBody();
      bodyFailed_ = false;
      long long announced = msg != 0 ? msg->getContentLength() : 0;
      if (announced > 0) {
        size_t size = announced > static_cast<long long>(kMaxInitialBodyBlock)
                          ? kMaxInitialBodyBlock
                          : static_cast<size_t>(announced);
        body_ = new (std::nothrow) ACE_Message_Block(size);
        if (body_ != 0 && body_->base() == 0) freeBody();
        if (body_ == 0) {
          errno = ENOMEM;
          bodyFailed_ = true;
        }
      }
      break;
    }
    case HTTPClientObserver::EV_BODY: {
      if (mb == 0) break;
      size_t len = mb->length();
      if (len == 0) break;  // nothing to keep; an empty chunk must not grow the block
      if (bodyFailed_) {
        mb->reset();  // the exchange already failed; drop what follows
        break;
      }
      size_t kept = body_ != 0 ? body_->length() : 0;
      if (len > maxBodySize_ || kept > maxBodySize_ - len) {
        // Larger than any document we accept: stop the transfer instead of growing without end.
        freeBody();
        bodyFailed_ = true;
        mb->reset();
        httpClient_->cancel();
        break;
      }
      if (body_ == 0) {
        body_ = new (std::nothrow) ACE_Message_Block(len + 1);
        if (body_ != 0 && body_->base() == 0) freeBody();
      }
      while (body_ != 0 && len >= body_->space()) {
        if (body_->size(body_->size() * 2) == -1) freeBody();
      }
      if (body_ == 0) {
        errno = ENOMEM;
        bodyFailed_ = true;
        mb->reset();
        break;
      }
      body_->copy(mb->rd_ptr(), len);
      mb->reset();
      break;
    }
    case HTTPClientObserver::EV_COMPLETE:
      if (body_ != 0 && msg != 0 && !bodyFailed_) {
        msg->setBody(body_);
        body_ = 0;
      }
      break;
    default:
      break;
  }
  return 0;
}

// ---- factory ----

XcapClientFactory::XcapClientFactory() : xcapRoot_("/xcap") {}

XcapClientFactory* XcapClientFactory::instance() {
  return ACE_Singleton<XcapClientFactory, ACE_Thread_Mutex>::instance();
}

IXcapClient* XcapClientFactory::createXcapClient(const std::string& user,
                                                 const std::string& address,
                                                 const AuthenticateMode& authenticateMode,
                                                 const DownloadMode& downloadMode,
                                                 const std::string& password) {
  std::string host;
  int port = 0;
  if (!StringParser::parseAddr(address, host, port)) return 0;
  try {
    XcapClient* client = new (std::nothrow)
        XcapClient(user, password, host, port, *this, authenticateMode, downloadMode);
    if (client == 0) errno = ENOMEM;
    return client;
  } catch (...) {
    errno = ENOMEM;
    return 0;
  }
}

void XcapClientFactory::setXcapRoot(const std::string& root) {
  ACE_Guard<ACE_Thread_Mutex> guard(lock_);
  xcapRoot_ = root;
}

std::string XcapClientFactory::getXcapRoot() const {
  ACE_Guard<ACE_Thread_Mutex> guard(lock_);
  return xcapRoot_;
}
