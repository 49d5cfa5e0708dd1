// Test support for the local bridge: a raw loopback client that speaks the wire format byte by
// byte, a stand-in main window that records what is posted to it, and compose-window objects
// that record what the agent delivers to them. Every wait is bounded.
#pragma once

#include "bridge/PW_Message.h"
#include "hook/PostwingWind.h"
#include "win32/windows.h"

#include <ace/INET_Addr.h>
#include <ace/Message_Block.h>
#include <ace/OS_NS_sys_socket.h>
#include <ace/SOCK_Connector.h>
#include <ace/SOCK_Stream.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bridgetest {

const DWORD kDesktopPid = 100;
const DWORD kMailPid = 200;

inline std::string unit(const std::string& command, const std::vector<std::pair<std::string, std::string>>& fields) {
  PW_Message message;
  message.setCommand(command);
  for (const auto& f : fields) message.setField(f.first, f.second);
  ACE_Message_Block block;
  message.encode(block);
  return std::string(block.rd_ptr(), block.length());
}

inline std::string handleText(HWND hWnd) { return std::to_string((long)(intptr_t)hWnd); }

// A peer of the server that writes raw bytes and reads units back.
class RawClient {
 public:
  explicit RawClient(int port) {
    ACE_SOCK_Connector connector;
    ACE_Time_Value timeout(5);
    ok_ = connector.connect(stream_, ACE_INET_Addr(u_short(port), ACE_UINT32(INADDR_LOOPBACK)), &timeout) == 0;
  }
  ~RawClient() { stream_.close(); }
  bool ok() const { return ok_; }
  bool send(const std::string& bytes) {
    ACE_Time_Value timeout(5);
    return stream_.send_n(bytes.data(), bytes.size(), MSG_NOSIGNAL, &timeout) == ssize_t(bytes.size());
  }
  // One send call per byte, each after the previous one left.
  bool sendByteByByte(const std::string& bytes) {
    for (char c : bytes)
      if (!send(std::string(1, c))) return false;
    return true;
  }
  // Reads until a whole unit is buffered (or the peer closes, or 5 s pass).
  bool readUnit(PW_Message& message) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
      ACE_Message_Block block(buffer_.size() + 1);
      block.copy(buffer_.data(), buffer_.size());
      std::size_t consumed = 0;
      if (message.decode(block, consumed) == PW_Message::DECODE_OK) {
        buffer_.erase(0, consumed);
        return true;
      }
      if (std::chrono::steady_clock::now() >= deadline) return false;
      char chunk[4096];
      ACE_Time_Value timeout(0, 200 * 1000);
      const ssize_t n = stream_.recv(chunk, sizeof chunk, &timeout);
      if (n == 0) return false;
      if (n > 0) buffer_.append(chunk, std::size_t(n));
    }
  }
  // True when the server closes the connection within 5 s (any bytes it sends are skipped).
  bool waitClosed() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      char chunk[65536];
      ACE_Time_Value timeout(0, 200 * 1000);
      const ssize_t n = stream_.recv(chunk, sizeof chunk, &timeout);
      if (n == 0) return true;
      if (n < 0 && errno != ETIME && errno != EWOULDBLOCK && errno != EAGAIN && errno != EINTR) return true;
    }
    return false;
  }
  void close() { stream_.close(); }
  ACE_SOCK_Stream& stream() { return stream_; }

 private:
  ACE_SOCK_Stream stream_;
  bool ok_ = false;
  std::string buffer_;
};

// Messages posted to the stand-in main window (and any other window of its class).
class PostedLog {
 public:
  static PostedLog& instance() {
    static PostedLog log;
    return log;
  }
  void add(HWND hWnd, UINT msg) {
    std::lock_guard<std::mutex> g(mutex_);
    entries_.push_back(std::make_pair(hWnd, msg));
    cond_.notify_all();
  }
  int count(HWND hWnd, UINT msg) {
    std::lock_guard<std::mutex> g(mutex_);
    int n = 0;
    for (const auto& e : entries_) n += e.first == hWnd && e.second == msg;
    return n;
  }
  // Waits until the window got msg at least n times.
  bool waitFor(HWND hWnd, UINT msg, int n) {
    std::unique_lock<std::mutex> g(mutex_);
    return cond_.wait_for(g, std::chrono::seconds(5), [&] {
      int c = 0;
      for (const auto& e : entries_) c += e.first == hWnd && e.second == msg;
      return c >= n;
    });
  }
  void clear() {
    std::lock_guard<std::mutex> g(mutex_);
    entries_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cond_;
  std::vector<std::pair<HWND, UINT>> entries_;
};

inline LRESULT CALLBACK recordingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m >= WM_USER || m == WM_CLOSE) {
    PostedLog::instance().add(h, m);
    return 0;  // WM_CLOSE is recorded, not acted on
  }
  return DefWindowProcA(h, m, w, l);
}

// A plain window of the calling thread whose procedure records WM_CLOSE and WM_USER and up.
inline HWND makeRecordingWindow(const char* title) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = recordingProc;
  wc.lpszClassName = "PwBridgeTestWindow";
  RegisterClassExA(&wc);  // once per simulated process; "already exists" is fine
  return CreateWindowExA(0, "PwBridgeTestWindow", title, WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                         nullptr);
}

// A compose-window object that records the lists the agent delivers.
class RecordingWind : public PostwingWind {
 public:
  struct Delivery {
    std::string to, cc, bcc;
    DWORD threadId = 0;
  };
  explicit RecordingWind(HWND root) : PostwingWind(root, KIND_FOXMAIL7) {}
  int fillTo(const std::string& list) override { return record(0, list); }
  int fillCc(const std::string& list) override { return record(1, list); }
  int fillBcc(const std::string& list) override { return record(2, list); }
  // The lists arrive field by field; a delivery ends with the bcc field (tests always send one).
  bool waitDeliveries(std::size_t n) {
    std::unique_lock<std::mutex> g(mutex_);
    return cond_.wait_for(g, std::chrono::seconds(5), [&] { return done_.size() >= n; });
  }
  std::vector<Delivery> deliveries() {
    std::lock_guard<std::mutex> g(mutex_);
    return done_;
  }

 private:
  int record(int field, const std::string& list) {
    std::lock_guard<std::mutex> g(mutex_);
    (field == 0 ? current_.to : field == 1 ? current_.cc : current_.bcc) = list;
    current_.threadId = GetCurrentThreadId();
    if (field == 2) {
      done_.push_back(current_);
      current_ = Delivery();
      cond_.notify_all();
    }
    return 0;
  }
  std::mutex mutex_;
  std::condition_variable cond_;
  Delivery current_;
  std::vector<Delivery> done_;
};

}  // namespace bridgetest
