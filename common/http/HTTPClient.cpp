#include "http/HTTPClient.h"

namespace http {

struct HTTPClient::Impl {};

HTTPClient::HTTPClient(const std::string& hostPort)
    : port_(80), ssl_(false), recvTimeout_(DEFAULT_RECEIVE_TIMEOUT), sendTimeout_(DEFAULT_SEND_TIMEOUT),
      maxBodySize_(DEFAULT_MAX_BODY_SIZE), observer_(0), cancelled_(false), impl_(0) {
  host_ = hostPort;
}
HTTPClient::HTTPClient(const std::string& host, int port)
    : host_(host), port_(port), ssl_(false), recvTimeout_(DEFAULT_RECEIVE_TIMEOUT),
      sendTimeout_(DEFAULT_SEND_TIMEOUT), maxBodySize_(DEFAULT_MAX_BODY_SIZE), observer_(0),
      cancelled_(false), impl_(0) {}
HTTPClient::~HTTPClient() {}
void HTTPClient::setTimeout(int r, int s) { recvTimeout_ = r; sendTimeout_ = s; }
void HTTPClient::useSSL(bool ssl) { ssl_ = ssl; }
void HTTPClient::setMaxBodySize(size_t b) { maxBodySize_ = b; }
int HTTPClient::call(HTTPRequest& req, HTTPResponse& resp) { return exchange(req, resp, 0); }
void HTTPClient::setObserver(HTTPClientObserver* o) { observer_ = o; }
HTTPClientObserver* HTTPClient::getObserver() const { return observer_; }
int HTTPClient::invoke(HTTPRequest& req, HTTPResponse& resp) { return exchange(req, resp, observer_); }
void HTTPClient::cancel() { cancelled_ = true; }
void HTTPClient::stop() { cancel(); }
bool HTTPClient::stopped() const { return cancelled_; }
const std::string& HTTPClient::getLastError() const { return lastError_; }
const std::string& HTTPClient::getHost() const { return host_; }
int HTTPClient::getPort() const { return port_; }
int HTTPClient::exchange(HTTPRequest&, HTTPResponse& resp, HTTPClientObserver*) {
  resp.reset();
  lastError_ = "not implemented yet";
  return -1;
}

}  // namespace http
