// The hook-side agent of the local bridge.
#include "hook/PostwingUiAgent.h"

#include "DebugLine.h"
#include "bridge/PW_Message.h"
#include "hook/PostwingWindRegistry.h"

#include <ace/ACE.h>
#include <ace/Guard_T.h>
#include <ace/INET_Addr.h>
#include <ace/Message_Block.h>
#include <ace/OS_NS_sys_socket.h>
#include <ace/SOCK_Connector.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

typedef ACE_Guard<ACE_Recursive_Thread_Mutex> Guard;
using pwhook::debugf;

const int PostwingUiAgent::DEFAULT_PORT;
const std::size_t PostwingUiAgent::INITIAL_BUFFER_SIZE;

namespace {
std::atomic<int> g_portOverride{0};

// A connect or a send to the desktop program gives up after this long.
const int kIoTimeoutSeconds = 5;
const std::size_t kMaxBufferSize = PW_Message::MAX_HEAD_LENGTH + PW_Message::MAX_BODY_LENGTH;

std::string handleText(HWND root) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld", (long)(intptr_t)root);
  return text;
}

// The message's unit in a new block for sendMessage, or null when it cannot be encoded.
ACE_Message_Block* encoded(const PW_Message& message) {
  ACE_Message_Block* block = new ACE_Message_Block();
  if (message.encode(*block) != 0) {
    block->release();
    return nullptr;
  }
  return block;
}

}  // namespace

struct PostwingUiAgent::ReceiveStart {
  PostwingUiAgent* agent;
  ACE_HANDLE handle;
};

PostwingUiAgent* PostwingUiAgent::instance() { return &w32subst::ProcessLocal<PostwingUiAgent>::get(); }

PostwingUiAgent::PostwingUiAgent() { OutputDebugStringA("PostwingUiAgent::PostwingUiAgent"); }

PostwingUiAgent::~PostwingUiAgent() {
  shutdown();
  OutputDebugStringA("PostwingUiAgent::~PostwingUiAgent");
}

void PostwingUiAgent::setPortOverride(int port) { g_portOverride = port; }
int PostwingUiAgent::portOverride() { return g_portOverride; }

ACE_HANDLE PostwingUiAgent::get_handle() const {
  Guard g(mutex_);
  return stream_.get_handle();
}

bool PostwingUiAgent::receiving() const {
  Guard g(mutex_);
  return recvHandle_ != ACE_INVALID_HANDLE && recvHandle_ == stream_.get_handle();
}

int PostwingUiAgent::connectUI(int port, bool startThread) {
  Guard g(mutex_);
  return connect_i(startThread, port);
}

int PostwingUiAgent::connect_i(bool startThread, std::optional<int> port) {
  OutputDebugStringA("PostwingUiAgent::connectUI");
  reapThreads_i();
  if (startThread) {
    shutDown_ = false;
  } else if (!connected_ && shutDown_) {
    // A window's close after the process's last window ended the agent: connecting again would
    // leave a connection nobody closes in the mail client.
    OutputDebugStringA("PostwingUiAgent::connectUI. shut down, not connecting for a close");
    return -1;
  }
  if (!connected_) {
    if (g_portOverride != 0)
      port_ = g_portOverride;
    else if (port)
      port_ = *port;
    ACE_SOCK_Stream stream;
    if (stream.open(SOCK_STREAM, PF_INET, 0, 0) == -1) return -1;
    int one = 1;
    int zero = 0;
    stream.set_option(IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    stream.set_option(SOL_SOCKET, SO_SNDBUF, &zero, sizeof zero);
    stream.set_option(SOL_SOCKET, SO_RCVBUF, &zero, sizeof zero);
    ACE_INET_Addr addr(u_short(port_), ACE_UINT32(INADDR_LOOPBACK));
    ACE_SOCK_Connector connector;
    ACE_Time_Value timeout(kIoTimeoutSeconds);
    if (connector.connect(stream, addr, &timeout) == -1) {
      stream.close();
      return -1;
    }
    // Non-blocking from here on: the receive thread waits for readability itself, and a timed
    // send on the UI thread must never turn a waiting read into a failed one.
    stream.enable(ACE_NONBLOCK);
    stream_.set_handle(stream.get_handle());
    connected_ = true;
  }
  // Also for a connection made earlier without one (a window that closed before any request
  // connected without a receive thread): replies must be read.
  if (startThread && recvHandle_ != stream_.get_handle()) {
    const ACE_HANDLE handle = stream_.get_handle();
    ReceiveStart* start = new ReceiveStart{this, handle};  // the thread deletes it
    HANDLE thread = CreateThread(nullptr, 0, &PostwingUiAgent::recvThread, start, 0, nullptr);
    if (thread == nullptr) {
      delete start;
      OutputDebugStringA("PostwingUiAgent::connectUI. receive thread not started");
    } else {
      recvHandle_ = handle;
      threads_.push_back(thread);
    }
  }
  return 0;
}

int PostwingUiAgent::showAddrDialog(const std::string& to, const std::string& cc, const std::string& bcc,
                                    HWND root) {
  OutputDebugStringA("PostwingUiAgent::showAddrDialog");
  Guard g(mutex_);
  // Connects when not connected, and starts the receive thread when the connection has none
  // yet (a window that closed earlier may have connected without one); when this fails
  // sendMessage tries again.
  connect_i(true);
  PW_Message message;
  message.setCommand("showAddrDialog");
  message.setField("handle", handleText(root));
  message.setField("to", to);
  message.setField("cc", cc);
  message.setField("bcc", bcc);
  ACE_Message_Block* block = encoded(message);
  return block != nullptr ? sendMessage(block) : -1;
}

int PostwingUiAgent::showAttachDialog(HWND root) {
  OutputDebugStringA("PostwingUiAgent::showAttachDialog");
  Guard g(mutex_);
  connect_i(true);  // as showAddrDialog
  PW_Message message;
  message.setCommand("showAttachDialog");
  message.setField("handle", handleText(root));
  ACE_Message_Block* block = encoded(message);
  return block != nullptr ? sendMessage(block) : -1;
}

int PostwingUiAgent::closeDialog(HWND root) {
  OutputDebugStringA("PostwingUiAgent::closeDialog");
  Guard g(mutex_);
  if (!connected_ && connect_i(false) != 0) return -1;  // no reply comes: no receive thread
  PW_Message message;
  message.setCommand("mailWindowsClosed");
  message.setField("handle", handleText(root));
  ACE_Message_Block* block = encoded(message);
  return block != nullptr ? sendMessage(block) : -1;
}

int PostwingUiAgent::sendMessage(ACE_Message_Block* block) {
  OutputDebugStringA("PostwingUiAgent::sendMessage");
  Guard g(mutex_);
  if (!connected_ && connect_i(true) != 0) {
    block->release();
    return -1;
  }
  const std::size_t length = block->length();
  std::size_t sent = 0;
  ACE_Time_Value timeout(kIoTimeoutSeconds);
  // Whole or not at all: a part of a unit would leave the stream out of step. MSG_NOSIGNAL: a
  // server that went away gives an error here, never SIGPIPE in the mail client.
  stream_.send_n(block->rd_ptr(), length, MSG_NOSIGNAL, &timeout, &sent);
  block->release();
  if (sent == length && length != 0) return 0;
  OutputDebugStringA("send message is error");
  dropConnection_i();
  return -1;
}

void PostwingUiAgent::dropConnection_i() {
  const ACE_HANDLE handle = stream_.get_handle();
  connected_ = false;
  if (handle == ACE_INVALID_HANDLE) return;
  ACE_OS::shutdown(handle, SHUT_RDWR);  // wakes its receive thread, which then closes it
  if (recvHandle_ != handle) ACE_OS::closesocket(handle);
  stream_.set_handle(ACE_INVALID_HANDLE);
}

void PostwingUiAgent::reapThreads_i() {
  for (std::vector<HANDLE>::iterator it = threads_.begin(); it != threads_.end();) {
    if (WaitForSingleObject(*it, 0) == WAIT_OBJECT_0) {
      CloseHandle(*it);
      it = threads_.erase(it);
    } else {
      ++it;
    }
  }
}

void PostwingUiAgent::shutdown() {
  std::vector<HANDLE> threads;
  {
    Guard g(mutex_);
    dropConnection_i();
    shutDown_ = true;
    threads.swap(threads_);
  }
  // The socket is shut down: a receive thread blocked in a read wakes at once. One that is
  // delivering a reply may be waiting for this thread (a paste asks the compose window's own
  // thread to move it and reads its controls): messages sent to this thread are handled while
  // it waits, as a window's thread must.
  for (HANDLE thread : threads) {
    for (;;) {
      DWORD r = WaitForSingleObject(thread, 10);
      if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) break;
      MSG msg;
      PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
    CloseHandle(thread);
  }
}

void PostwingUiAgent::reopen() { shutDown_ = false; }

DWORD WINAPI PostwingUiAgent::recvThread(LPVOID arg) {
  ReceiveStart* start = static_cast<ReceiveStart*>(arg);
  PostwingUiAgent* agent = start->agent;
  const ACE_HANDLE handle = start->handle;
  delete start;
  agent->receiveLoop(handle);
  return 0;
}

void PostwingUiAgent::receiveLoop(ACE_HANDLE handle) {
  OutputDebugStringA("begin recvThread...............");
  ACE_Message_Block buffer(INITIAL_BUFFER_SIZE);
  while (handle_input(handle, buffer) == 0) {
  }
  OutputDebugStringA("PostwingUiAgent::closeAgent....b");
  {
    Guard g(mutex_);
    if (stream_.get_handle() == handle) {
      // The server closed the connection: the next request connects anew.
      stream_.set_handle(ACE_INVALID_HANDLE);
      connected_ = false;
    }
    if (recvHandle_ == handle) recvHandle_ = ACE_INVALID_HANDLE;
    ACE_OS::closesocket(handle);
  }
  OutputDebugStringA("PostwingUiAgent::closeAgent....e");
  OutputDebugStringA("end recvThread...................");
}

int PostwingUiAgent::handle_input(ACE_HANDLE handle, ACE_Message_Block& buffer) {
  OutputDebugStringA("PostwingUiAgent::handle_input");
  if (buffer.space() == 0) {
    if (buffer.size() >= kMaxBufferSize || buffer.size(std::min(buffer.size() * 2, kMaxBufferSize)) == -1) {
      OutputDebugStringA("PostwingUiAgent::handle_input. buffer full, dropped");
      buffer.reset();
    }
  }
  if (ACE::handle_read_ready(handle, 0) == -1 && errno != EINTR) {
    debugf("PostwingUiAgent::handle_input readBytes:%d", -1);
    return -1;
  }
  const ssize_t n = ACE_OS::recv(handle, buffer.wr_ptr(), buffer.space());
  if (n < 0 && (errno == EINTR || errno == EWOULDBLOCK || errno == EAGAIN)) return 0;
  if (n <= 0) {
    debugf("PostwingUiAgent::handle_input readBytes:%d", int(n));
    return -1;
  }
  buffer.wr_ptr(std::size_t(n));
  for (;;) {
    std::size_t headLength = 0;
    std::size_t bodyLength = 0;
    std::size_t totalLength = 0;
    bool malformed = false;
    if (!PW_Message::hasCompleteUnit(buffer, headLength, bodyLength, totalLength, &malformed)) {
      if (malformed) {
        // No further bytes can make a reply of these: drop everything buffered.
        OutputDebugStringA("PostwingUiAgent::handle_input. PW_Message decode error");
        buffer.reset();
      }
      break;
    }
    OutputDebugStringA("receive full message................................");
    PW_Message message;
    std::size_t consumed = 0;
    if (message.decode(buffer, consumed) != PW_Message::DECODE_OK) {
      OutputDebugStringA("PostwingUiAgent::handle_input. PW_Message decode error");
      buffer.reset();
      return 0;
    }
    dispatch(message);
    buffer.rd_ptr(totalLength);
    buffer.crunch();
    debugf("PostwingUiAgent::handle_input. Message Type:%s,msgLen:%d", message.getCommand().c_str(),
           int(totalLength));
  }
  return 0;
}

void PostwingUiAgent::dispatch(const PW_Message& message) {
  const std::string& command = message.getCommand();
  if (command == "setSelectedAddr") {
    const std::string handle = message.getField("handle");
    OutputDebugStringA("PostwingUiAgent::onAddrSelected");
    if (PostwingWindRegistry::instance().deliverAddresses(std::atol(handle.c_str()), message.getField("to"),
                                                          message.getField("cc"), message.getField("bcc")) != 0) {
      debugf("PostwingUiAgent::onAddrSelected. no window:%s", handle.c_str());
    }
  } else if (command == "setAttachment") {
    const std::string handle = message.getField("handle");
    const std::string url = message.getField("AttachUrl");
    debugf("PostwingUiAgent::handle_input. PW_SET_ATTACHMENT. hwnd:%s,attachUrl:%s", handle.c_str(), url.c_str());
    onAttachSelected(handle, url);
  }
}

void PostwingUiAgent::onAttachSelected(const std::string& handle, const std::string& link) {
  OutputDebugStringA("PostwingUiAgent::onAttachSelected");
  std::shared_ptr<PostwingWind> wind = PostwingWindRegistry::instance().find(std::atol(handle.c_str()));
  if (!wind) {
    debugf("PostwingUiAgent::onAttachSelected. no window:%s", handle.c_str());
    return;
  }
  wind->insertAttachment(link);
}
