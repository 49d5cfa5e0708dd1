// XcapClient: the XCAP transport over HTTP, with the single sign-on ticket or the stored
// ("xcap", user) cookies in single sign-on mode, and one retry after a 302 there.
// XcapClientFactory: the process-wide maker of clients; it holds the XCAP root ("/xcap").
//
// Request target: the root + the URI text, URL-encoded as a path. In single sign-on mode
// without stored cookies a ticket is fetched for "http://" + host:port + that encoded path and
// appended as "?ticket=" ("&ticket=" when the target already has a query), or, with
// XCAP/enableProxyMode, the location single sign-on returned is sent as it stands.
//
// Threads: the operations may be called from any thread; they run one at a time per client
// (requestLock_), each blocking its caller. cancel may be called from any thread.
//
// Configuration (section XCAP): recvTimeout (15 s) and sendTimeout (10 s), read at
// construction; enableProxyMode (false), read at every ticket request.
#ifndef CORVANE_XCAPCLIENT_H
#define CORVANE_XCAPCLIENT_H

#include "corvane/IXcapClient.h"
#include "corvane/XcapTypes.h"
#include "http/HTTPClientObserver.h"
#include "http/HTTPMessage.h"

#include <ace/Thread_Mutex.h>

#include <string>

namespace http {
class HTTPClient;
class HTTPRequest;
}  // namespace http
class XcapClientFactory;

class XcapClient : public IXcapClient, public HTTPClientObserver {
 public:
  static const char* const SYSTEM_ID;          // "xcap": single sign-on system id and cookie key
  static const char* const ERROR_RETURN_URL;   // loopback URL handed to single sign-on
  static const char* const ELEMENT_CONTENT_TYPE;    // "application/xcap-el+xml"
  static const char* const ATTRIBUTE_CONTENT_TYPE;  // "application/xcap-att+xml"

  // Made by XcapClientFactory::createXcapClient; the HTTP client is created here.
  XcapClient(const std::string& user, const std::string& password, const std::string& host,
             int port, const XcapClientFactory& factory, const AuthenticateMode& authenticateMode,
             const DownloadMode& downloadMode);
  ~XcapClient() override;

  // Any thread: ends the running streamed exchange with -1. Nothing in blocking mode.
  void cancel() override;
  void stop() override;

  int getDocument(const DocumentUri& uri, HTTPResponse& response) override;
  int getElement(const ElementUri& uri, HTTPResponse& response) override;
  int getAttribute(const AttributeUri& uri, HTTPResponse& response) override;
  int putDocument(const DocumentUri& uri, const std::string& contentType,
                  const std::string& body, HTTPResponse& response) override;
  int putDocumentIfMatch(const DocumentUri& uri, const std::string& etag,
                         const std::string& contentType, const std::string& body,
                         HTTPResponse& response) override;
  int putDocumentIfNoneMatch(const DocumentUri& uri, const std::string& etag,
                             const std::string& contentType, const std::string& body,
                             HTTPResponse& response) override;
  int putElement(const ElementUri& uri, const std::string& body, HTTPResponse& response) override;
  int putElementIfMatch(const ElementUri& uri, const std::string& etag, const std::string& body,
                        HTTPResponse& response) override;
  int putElementIfNoneMatch(const ElementUri& uri, const std::string& etag,
                            const std::string& body, HTTPResponse& response) override;
  int putAttribute(const AttributeUri& uri, const std::string& body,
                   HTTPResponse& response) override;
  int putAttributeIfMatch(const AttributeUri& uri, const std::string& etag,
                          const std::string& body, HTTPResponse& response) override;
  int putAttributeIfNoneMatch(const AttributeUri& uri, const std::string& etag,
                              const std::string& body, HTTPResponse& response) override;
  int deleteDocument(const DocumentUri& uri, HTTPResponse& response) override;
  int deleteDocumentIfMatch(const DocumentUri& uri, const std::string& etag,
                            HTTPResponse& response) override;
  int deleteDocumentIfNoneMatch(const DocumentUri& uri, const std::string& etag,
                                HTTPResponse& response) override;
  int deleteElement(const ElementUri& uri, HTTPResponse& response) override;
  int deleteElementIfMatch(const ElementUri& uri, const std::string& etag,
                           HTTPResponse& response) override;
  int deleteElementIfNoneMatch(const ElementUri& uri, const std::string& etag,
                               HTTPResponse& response) override;
  int deleteAttribute(const AttributeUri& uri, HTTPResponse& response) override;
  int deleteAttributeIfMatch(const AttributeUri& uri, const std::string& etag,
                             HTTPResponse& response) override;
  int deleteAttributeIfNoneMatch(const AttributeUri& uri, const std::string& etag,
                                 HTTPResponse& response) override;

  // HTTPClientObserver, called inside HTTPClient::invoke on the requesting thread.
  int onHttpEvent(int kind, HTTPMessage* msg, ACE_Message_Block* mb) override;

  // The largest response body kept, in either download mode (default 64 MiB); a larger one
  // fails the operation with -1. Call before the client is shared.
  void setMaxBodySize(size_t bytes);

  const std::string& getUser() const { return user_; }
  const std::string& getHostPort() const { return hostPort_; }

 private:
  XcapClient(const XcapClient&) = delete;
  XcapClient& operator=(const XcapClient&) = delete;

  // One request shape: method, optional condition header and its tag, optional content type.
  struct RequestShape;

  int generateUri(const std::string& relativePath, std::string& requestUri);
  int httpMethodExec(http::HTTPRequest& request, HTTPResponse& response);
  int send(const XcapUri& uri, const RequestShape& shape, HTTPResponse& response);
  // Runs send once more after a 302 in single sign-on mode, with the cookies cleared.
  int sendWithRetry(const XcapUri& uri, const RequestShape& shape, HTTPResponse& response);
  void freeBody();
  int handleEvent(int kind, HTTPMessage* msg, ACE_Message_Block* mb);

  // Cookie store calls; each acts only in single sign-on mode.
  void saveCookies(HTTPResponse& response);
  void restoreCookies(http::HTTPRequest& request);
  void clearCookies();
  bool hasCookie();

  // Set at construction, read-only afterwards.
  std::string user_;
  std::string password_;
  std::string hostPort_;
  AuthenticateMode authenticateMode_;
  DownloadMode downloadMode_;
  std::string xcapRoot_;
  http::HTTPClient* httpClient_;  // owned
  size_t maxBodySize_;

  // One exchange at a time: a usage shared by several threads shares its client, and the
  // HTTP client and the body being gathered belong to one exchange. Held for a whole
  // operation (the retry included); cancel does not take it.
  ACE_Thread_Mutex requestLock_;
  ACE_Message_Block* body_;  // guarded by requestLock_; the streamed body being gathered
  bool bodyFailed_;          // guarded by requestLock_; a chunk could not be kept
};

class XcapClientFactory {
 public:
  XcapClientFactory();
  // The process-wide factory. Any thread.
  static XcapClientFactory* instance();

  // A new client for "host:port", owned by the caller (hold it in an Sptr<IXcapClient>);
  // null when the address is not host:port, or, with errno ENOMEM, when memory runs out.
  // Any thread.
  IXcapClient* createXcapClient(const std::string& user, const std::string& address,
                                const AuthenticateMode& authenticateMode,
                                const DownloadMode& downloadMode, const std::string& password);

  // The root put in front of every request path ("/xcap"); clients copy it when made.
  // Any thread.
  void setXcapRoot(const std::string& root);
  std::string getXcapRoot() const;

 private:
  mutable ACE_Thread_Mutex lock_;
  std::string xcapRoot_;  // guarded by lock_
};

#endif  // CORVANE_XCAPCLIENT_H
