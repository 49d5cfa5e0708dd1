#include "http/HTTPMessage.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"

#include <ace/Message_Block.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace http {

const std::string HTTPMessage::HTTP_1_0 = "HTTP/1.0";
const std::string HTTPMessage::HTTP_1_1 = "HTTP/1.1";
const std::string HTTPMessage::CONTENT_LENGTH = "Content-Length";
const std::string HTTPMessage::CONTENT_TYPE = "Content-Type";
const std::string HTTPMessage::CONNECTION = "Connection";
const std::string HTTPMessage::IF_MATCH = "If-Match";
const std::string HTTPMessage::IF_NONE_MATCH = "If-None-Match";
const std::string HTTPMessage::ETAG = "ETag";

const std::string HTTPRequest::HTTP_GET = "GET";
const std::string HTTPRequest::HTTP_POST = "POST";
const std::string HTTPRequest::HTTP_PUT = "PUT";
const std::string HTTPRequest::HTTP_DELETE = "DELETE";
const std::string HTTPRequest::HTTP_HEAD = "HEAD";
const std::string HTTPRequest::COOKIE = "Cookie";
const std::string HTTPRequest::HOST = "Host";

const std::string HTTPResponse::SET_COOKIE = "Set-Cookie";
const std::string HTTPResponse::LOCATION = "Location";

// ---- HTTPMessage ----

HTTPMessage::HTTPMessage() : version_(HTTP_1_1), body_(0) {}

HTTPMessage::HTTPMessage(const HTTPMessage& other)
    : NameValueCollection(other), version_(other.version_), body_(0) {
  if (other.body_) setBody(other.body_->rd_ptr(), other.body_->length());
}

HTTPMessage& HTTPMessage::operator=(const HTTPMessage& other) {
  if (this == &other) return *this;
  NameValueCollection::operator=(other);
  version_ = other.version_;
  if (other.body_)
    setBody(other.body_->rd_ptr(), other.body_->length());
  else
    clearBody();
  return *this;
}

HTTPMessage::~HTTPMessage() { clearBody(); }

void HTTPMessage::setVersion(const std::string& version) { version_ = version; }
const std::string& HTTPMessage::getVersion() const { return version_; }

void HTTPMessage::setKeepAlive(bool keepAlive) {
  set(CONNECTION, keepAlive ? "Keep-Alive" : "close");
}

bool HTTPMessage::getKeepAlive() const {
  return !equalsIgnoreCase(get(CONNECTION), "close");
}

void HTTPMessage::setContentType(const std::string& type) { set(CONTENT_TYPE, type); }
std::string HTTPMessage::getContentType() const { return get(CONTENT_TYPE); }

void HTTPMessage::setContentLength(long long length) {
  set(CONTENT_LENGTH, std::to_string(length < 0 ? 0 : length));
}

long long HTTPMessage::getContentLength() const {
  std::string text = get(CONTENT_LENGTH);
  size_t b = text.find_first_not_of(" \t");
  size_t e = text.find_last_not_of(" \t");
  if (b == std::string::npos) return 0;
  text = text.substr(b, e - b + 1);
  if (text.empty() || text.size() > 18) return 0;
  for (char c : text)
    if (c < '0' || c > '9') return 0;
  return std::strtoll(text.c_str(), 0, 10);
}

void HTTPMessage::setBody(const char* data, size_t length) {
  if (!data || length == 0) {
    clearBody();
    return;
  }
  ACE_Message_Block* mb = new ACE_Message_Block(length);
  mb->copy(data, length);
  setBody(mb);
}

void HTTPMessage::setBody(ACE_Message_Block* body) {
  if (body == body_) return;
  clearBody();
  body_ = body;
}

ACE_Message_Block* HTTPMessage::getBody() const { return body_; }

std::string HTTPMessage::getBodyText() const {
  if (!body_) return std::string();
  return std::string(body_->rd_ptr(), body_->length());
}

void HTTPMessage::clearBody() {
  if (body_) body_->release();
  body_ = 0;
}

// ---- HTTPRequest ----

HTTPRequest::HTTPRequest() : method_(HTTP_GET), uri_("/") {}

HTTPRequest::HTTPRequest(const std::string& method, const std::string& uri, const std::string& version)
    : method_(method), uri_(uri) {
  setVersion(version);
}

HTTPRequest::~HTTPRequest() {}

void HTTPRequest::setMethod(const std::string& method) { method_ = method; }
const std::string& HTTPRequest::getMethod() const { return method_; }
void HTTPRequest::setURI(const std::string& uri) { uri_ = uri; }
const std::string& HTTPRequest::getURI() const { return uri_; }
void HTTPRequest::setHost(const std::string& host) { set(HOST, host); }
std::string HTTPRequest::getHost() const { return get(HOST); }

void HTTPRequest::setCredentials(const std::string& first, const std::string& second) {
  set(first, second);
}

// ---- HTTPResponse ----

HTTPResponse::HTTPResponse() : status_(0) {}
HTTPResponse::~HTTPResponse() {}

int HTTPResponse::getStatus() const { return status_; }
void HTTPResponse::setStatus(int status) { status_ = status; }
const std::string& HTTPResponse::getReason() const { return reason_; }
void HTTPResponse::setReason(const std::string& reason) { reason_ = reason; }

void HTTPResponse::getCookies(std::vector<HTTPCookie>& out) const {
  std::vector<std::string> headers;
  getAll(SET_COOKIE, headers);
  for (const std::string& h : headers) {
    HTTPCookie cookie(h);
    if (cookie.isValid()) out.push_back(cookie);
  }
}

void HTTPResponse::reset() {
  status_ = 0;
  reason_.clear();
  clear();
  clearBody();
  setVersion(HTTP_1_1);
}

}  // namespace http
