// The HTTP client's reading of an answer: libcurl splits it, our client reads the status line,
// the header lines, the framing and the body limits. A loopback server in this process answers
// every request with the fuzz input, byte for byte, and closes; the client must end each
// exchange with a response or a failure, never badly.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "FuzzCheck.h"
#include "http/HTTPClient.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"

namespace {

std::mutex answerLock;
std::string answer;  // what the server sends to the next connection
int listener = -1;
int port = 0;

void serve() {
  for (;;) {
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    // Read the request head, then answer and close.
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, static_cast<size_t>(n));
    }
    std::string out;
    {
      std::lock_guard<std::mutex> lock(answerLock);
      out = answer;
    }
    size_t sent = 0;
    while (sent < out.size()) {
      const ssize_t n = send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    shutdown(fd, SHUT_WR);
    close(fd);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  listener = socket(AF_INET, SOCK_STREAM, 0);
  PW_FUZZ_CHECK(listener >= 0);
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  PW_FUZZ_CHECK(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);
  PW_FUZZ_CHECK(listen(listener, 64) == 0);
  socklen_t len = sizeof addr;
  PW_FUZZ_CHECK(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0);
  port = ntohs(addr.sin_port);
  std::thread(serve).detach();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    std::lock_guard<std::mutex> lock(answerLock);
    answer.assign(reinterpret_cast<const char*>(data), size);
  }
  http::HTTPClient client("127.0.0.1", port);
  client.setTimeout(5, 5);
  client.setMaxBodySize(1024);
  http::HTTPRequest request(http::HTTPRequest::HTTP_GET, "/xcap/index", http::HTTPMessage::HTTP_1_1);
  request.setHost("127.0.0.1");
  http::HTTPResponse response;
  if (client.call(request, response) == 0) {
    PW_FUZZ_CHECK(response.getStatus() >= 100 && response.getStatus() <= 999);
  }
  return 0;
}
