// A blocking HTTP/1.1 client for one server (host and port), over libcurl.
//
// - Redirects are never followed: a 302 comes back as the response.
// - Time-outs bound connecting and every silence of the peer, never the
//   whole transfer, so long downloads and uploads go on while data flows.
// - A body that ends short of its Content-Length fails at once.
// - One connection is kept and reused by the exchanges of one client.
//
// Thread rule: call, invoke and the setters from one thread at a time (the
// owner's); cancel, stop and stopped from any thread.
#pragma once

#include "http/HTTPClientObserver.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"

#include <atomic>
#include <string>

namespace http {

class HTTPClient {
 public:
  // Used when setTimeout is never called or given a value below 1.
  static const int DEFAULT_RECEIVE_TIMEOUT = 60;  // seconds
  static const int DEFAULT_SEND_TIMEOUT = 30;     // seconds
  // The most a response head may hold (status line and headers).
  static const size_t MAX_HEAD_SIZE = 64 * 1024;
  // The most a response body kept in the response may hold (call, and what
  // an invoke observer leaves unread).
  static const size_t DEFAULT_MAX_BODY_SIZE = 64 * 1024 * 1024;

  // "host:port" (a host alone means port 80, or 443 with useSSL).
  explicit HTTPClient(const std::string& hostPort);
  // `host` is a name, an IPv4 address, or an IPv6 address with or without
  // its brackets ("[::1]" as StringParser::parseAddr leaves it, or "::1").
  HTTPClient(const std::string& host, int port);
  virtual ~HTTPClient();

  // Time-outs in seconds. receive: the longest silence while waiting for the
  // answer. send: the longest time to connect and the longest stall while the
  // request is being sent.
  void setTimeout(int recvSeconds, int sendSeconds);
  // HTTPS (TLS over OpenSSL, the peer's certificate verified) when true.
  void useSSL(bool ssl);
  void setMaxBodySize(size_t bytes);

  // Sends the request and fills the response (reset first). 0 when a response
  // arrived, whatever its status; -1 on a transport failure, a time-out, a
  // malformed or oversized answer or a cancel.
  // On the wire: the request line with the URI verbatim, the headers in their
  // order (Host as set; several Cookie entries joined into one "a=1; b=2"),
  // then Content-Length when one is set, a body exists or the method is POST
  // or PUT. The client owns the framing: Content-Length, Transfer-Encoding
  // and Expect entries of the request are not copied; a header holding CR or
  // LF, or a URI holding blanks or controls, fails the exchange unsent.
  int call(HTTPRequest& request, HTTPResponse& response);

  // The observer of invoke (not owned; null for none).
  void setObserver(HTTPClientObserver* observer);
  HTTPClientObserver* getObserver() const;

  // The same exchange as call, streamed through the observer on this thread:
  // - the request body is the concatenation of the observer's chunks
  //   (nextRequestChunk until null); when the observer gives no chunk at all,
  //   the request's own body is sent. With a Content-Length set, a body that
  //   ends early or runs over fails with -1; without one it is sent chunked.
  // - EV_HEAD, then EV_BODY per chunk, then EV_COMPLETE and 0; or EV_FAILURE
  //   and -1 on a failure. A cancel ends it with -1 and no further event.
  // The response is reset first; its body holds only what the observer leaves
  // unread or sets itself.
  int invoke(HTTPRequest& request, HTTPResponse& response);

  // Ends the running exchange with -1; with none running it does nothing, so
  // the next exchange runs as usual. Any thread.
  void cancel();
  // Stops the client for good: the running exchange ends with -1, and so does
  // every later one, at once and without sending anything. For a client made
  // for one job, whose cancel must also hold when it comes just before the
  // transfer starts. Any thread.
  void stop();
  bool stopped() const;  // stop was called, or a cancel is pending. Any thread.

  // Why the last exchange failed ("" after a success). Owner's thread.
  const std::string& getLastError() const;

  const std::string& getHost() const;
  int getPort() const;  // 0: the scheme's default (80, 443); -1: the text held no valid port

 private:
  HTTPClient(const HTTPClient&);
  HTTPClient& operator=(const HTTPClient&);

  struct Impl;
  friend struct Impl;
  int exchange(HTTPRequest& request, HTTPResponse& response, HTTPClientObserver* observer);

  std::string host_;
  int port_;
  bool ssl_;
  int recvTimeout_;
  int sendTimeout_;
  size_t maxBodySize_;
  HTTPClientObserver* observer_;
  std::string lastError_;
  std::atomic<bool> cancelled_;  // set by cancel (any thread), cleared when an exchange ends
  Impl* impl_;                   // the curl handles; owner's thread, except the wake-up in cancel
};

}  // namespace http

using http::HTTPClient;
