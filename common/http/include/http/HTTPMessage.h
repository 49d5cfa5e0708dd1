// What requests and responses share: version, headers (the message is-a
// NameValueCollection, so headers are set and read directly on it) and the
// body, held in one ACE_Message_Block owned by the message.
//
// Thread rule: not synchronised; one thread at a time.
#pragma once

#include "http/NameValueCollection.h"

#include <string>

class ACE_Message_Block;

namespace http {

class HTTPMessage : public NameValueCollection {
 public:
  static const std::string HTTP_1_0;        // "HTTP/1.0"
  static const std::string HTTP_1_1;        // "HTTP/1.1"
  static const std::string CONTENT_LENGTH;  // "Content-Length"
  static const std::string CONTENT_TYPE;    // "Content-Type"
  static const std::string CONNECTION;      // "Connection"
  static const std::string IF_MATCH;        // "If-Match"
  static const std::string IF_NONE_MATCH;   // "If-None-Match"
  static const std::string ETAG;            // "ETag"

  HTTPMessage();
  HTTPMessage(const HTTPMessage& other);             // deep copy of the body
  HTTPMessage& operator=(const HTTPMessage& other);  // deep copy of the body
  virtual ~HTTPMessage();

  void setVersion(const std::string& version);
  const std::string& getVersion() const;

  // "Connection: Keep-Alive" (true) or "Connection: close" (false).
  void setKeepAlive(bool keepAlive);
  // False only when the Connection header says "close".
  bool getKeepAlive() const;

  void setContentType(const std::string& type);
  std::string getContentType() const;

  // The announced length (the Content-Length header). On a request it may
  // exceed the body set here when an observer supplies the rest in invoke.
  void setContentLength(long long length);
  // The announced length; 0 when absent or not a number.
  long long getContentLength() const;

  // Copies `length` bytes into a new body (frees the previous body).
  // A null pointer or a length of 0 leaves the message without a body.
  void setBody(const char* data, size_t length);
  // Takes ownership of `body` (may be null) and frees the previous body.
  void setBody(ACE_Message_Block* body);
  // The body, bytes between rd_ptr and wr_ptr; null when there is none.
  // Owned by the message.
  ACE_Message_Block* getBody() const;
  // The unread bytes of the body as text ("" when there is none).
  std::string getBodyText() const;
  // Frees the body.
  void clearBody();

 private:
  std::string version_;
  ACE_Message_Block* body_;  // owned; null when none
};

}  // namespace http

using http::HTTPMessage;
