#include "bridge/PW_PostwingServer.h"

#include "bridge/PW_ClipboardHtml.h"
#include "bridge/PW_Message.h"
#include "bridge/PW_ServerTask.h"
#include "hook/PostwingHook.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"
#include "util/Config.h"
#include "util/StringParser.h"

#include <ace/Guard_T.h>
#include <ace/Message_Block.h>
#include <ace/OS_NS_sys_socket.h>

typedef ACE_Guard<ACE_Thread_Mutex> Guard;

const std::size_t PW_PostwingServer::MAX_ADDRESSES;

PW_PostwingServer* PW_PostwingServer::instance() {
  // Never destroyed: the reactor thread may still use it while the process ends.
  static PW_PostwingServer* server = new PW_PostwingServer();
  return server;
}

PW_PostwingServer::PW_PostwingServer() {}

int PW_PostwingServer::start() {
  IM_TRACE("PW_PostwingServer::start");
  if (started_) return listenPort() != 0 ? 0 : -1;
  started_ = true;
  PW_ServerTask* task = PW_ServerTask::instance();
  task->start();
  const int configured = Config::instance()->getIntValue("COMMON", "listenPort", 11111);
  const u_short port = u_short(unsigned(configured) % 65536u);
  // Only the hook library inside the mail clients of this machine connects: loopback only.
  ACE_INET_Addr addr(port, ACE_UINT32(INADDR_LOOPBACK));
  int result = -1;
  if (acceptor_.open(addr, task->reactor(), ACE_NONBLOCK, 1, 1) == 0) {
    // A longer queue of connections not yet accepted than ACE's five: agents that connect
    // while the reactor thread is busy are not kept waiting for a SYN retry.
    ACE_OS::listen(acceptor_.acceptor().get_handle(), SOMAXCONN);
    ACE_INET_Addr bound;
    acceptor_.acceptor().get_local_addr(bound);
    {
      Guard g(mutex_);
      listenAddr_ = bound;
    }
    IM_LOG_INFO("PostwingServer, [status = listening, port = %d]", int(bound.get_port_number()));
    result = 0;
  } else {
    IM_LOG_ERROR("PostwingServer, [status = listen failed, port = %d, errno = %d]", int(port), errno);
  }
  PW_HookManager::instance()->start();
  return result;
}

void PW_PostwingServer::stop() {
  IM_TRACE("PW_PostwingServer::stop");
  if (!started_) return;
  started_ = false;
  PW_HookManager::instance()->stop();
  // The reactor thread ends first: closing the acceptor under a running accept would race it
  // (ACE's acceptor then drops the half-made handler without closing it).
  PW_ServerTask::instance()->stop();
  acceptor_.close();
  // The reactor thread has ended: close what is still connected.
  std::set<PW_AddinUiSvrHandler*> open;
  {
    Guard g(mutex_);
    open = handlers_;
    listenAddr_ = ACE_INET_Addr();
  }
  for (PW_AddinUiSvrHandler* handler : open) handler->close();
  Guard g(mutex_);
  addrRequester_ = Requester();
  attachRequester_ = Requester();
}

ACE_INET_Addr PW_PostwingServer::listenAddress() const {
  Guard g(mutex_);
  return listenAddr_;
}

int PW_PostwingServer::listenPort() const { return listenAddress().get_port_number(); }

void PW_PostwingServer::post(UINT msg) const {
  HWND main = mainWindow_;
  if (main == nullptr || !PostMessageA(main, msg, 0, 0)) {
    IM_LOG_ERROR("PostwingServer, [status = post failed, message = 0x%X]", msg);
  }
}

void PW_PostwingServer::requestAddrDialog(const std::string& handle, PW_AddinUiSvrHandler* handler) {
  IM_TRACE("PW_PostwingServer::requestAddrDialog");
  Guard g(mutex_);
  addrRequester_.handle = handle;
  addrRequester_.handler = handler;
  IM_LOG_DEBUG("PW_PostwingServer::PostMessage ShowDialog");
  post(WM_PW_SHOWADDRBOOK);
}

void PW_PostwingServer::requestAttachDialog(const std::string& handle, PW_AddinUiSvrHandler* handler) {
  IM_TRACE("PW_PostwingServer::requestAttachDialog");
  Guard g(mutex_);
  attachRequester_.handle = handle;
  attachRequester_.handler = handler;
  IM_LOG_DEBUG("PW_PostwingServer::PostMessage ShowDialog");
  post(WM_PW_SHOWATTACH);
}

void PW_PostwingServer::onMailWindowsClosed(const std::string& handle) {
  IM_TRACE("PW_PostwingServer::onMailWindowsClosed");
  Guard g(mutex_);
  if (addrRequester_.handle == handle) addrRequester_ = Requester();
  if (attachRequester_.handle == handle) attachRequester_ = Requester();
  // Lock order: this mutex, then the hook library's window registry (never the reverse).
  closeWind(handle.c_str());
}

void PW_PostwingServer::onServerStopRequested() {
  IM_TRACE("PW_PostwingServer::onServerStopRequested");
  if (CloseHook hook = closeHook_.load()) hook();
  post(WM_CLOSE);
}

void PW_PostwingServer::onHandlerOpened(PW_AddinUiSvrHandler* handler) {
  Guard g(mutex_);
  handlers_.insert(handler);
}

void PW_PostwingServer::onHandlerClosed(PW_AddinUiSvrHandler* handler) {
  IM_TRACE("PW_PostwingServer::onHandlerClosed");
  Guard g(mutex_);
  handlers_.erase(handler);
  if (addrRequester_.handler == handler) addrRequester_ = Requester();
  if (attachRequester_.handler == handler) attachRequester_ = Requester();
}

bool PW_PostwingServer::sendTo(const Requester& requester, const PW_Message& message, const char* what) {
  ACE_Message_Block block;
  if (message.encode(block) != 0) {
    IM_LOG_ERROR("PostwingServer, [status = %s dropped, reason = encode failed]", what);
    return false;
  }
  if (requester.handler->sendData(block.rd_ptr(), block.length()) != 0) {
    IM_LOG_ERROR("PostwingServer, [status = %s dropped, reason = sendData failed, handle = %s]", what,
                 requester.handle.c_str());
    return false;
  }
  return true;
}

bool PW_PostwingServer::sendSelectedAddr(const std::vector<std::string>& to, const std::vector<std::string>& cc,
                                         const std::vector<std::string>& bcc) {
  IM_TRACE("PW_PostwingServer::sendSelectedAddr");
  Guard g(mutex_);
  if (addrRequester_.handler == 0) {
    IM_LOG_WARN("PostwingServer, [status = setSelectedAddr dropped, reason = no requester]");
    return false;
  }
  PW_Message message;
  message.setCommand("setSelectedAddr");
  message.setField("to", joinAddresses(to));
  message.setField("cc", joinAddresses(cc));
  message.setField("bcc", joinAddresses(bcc));
  message.setField("handle", addrRequester_.handle);
  return sendTo(addrRequester_, message, "setSelectedAddr");
}

bool PW_PostwingServer::sendAttachment(const std::map<std::string, std::string>& keyToUrl, HWND owner) {
  IM_TRACE("PW_PostwingServer::sendAttachment");
  Guard g(mutex_);
  if (attachRequester_.handler == 0) {
    IM_LOG_WARN("PostwingServer, [status = setAttachment dropped, reason = no requester]");
    return false;
  }
  const std::string wrapped = wrapClipboardHtml(buildAttachmentHtml(keyToUrl));
  if (wrapped.empty() || !putClipboardHtml(owner, wrapped)) {
    IM_LOG_ERROR("PostwingServer, [status = setAttachment dropped, reason = clipboard failed]");
    return false;
  }
  PW_Message message;
  message.setCommand("setAttachment");
  message.setField("AttachUrl", "");
  message.setField("handle", attachRequester_.handle);
  return sendTo(attachRequester_, message, "setAttachment");
}

std::string PW_PostwingServer::joinAddresses(const std::vector<std::string>& addresses) {
  std::string text;
  if (addresses.size() > MAX_ADDRESSES) {
    IM_LOG_WARN("PostwingServer, [status = addresses cut, count = %lu, sent = %lu]", (unsigned long)addresses.size(),
                (unsigned long)MAX_ADDRESSES);
    StringParser::concatenate(std::vector<std::string>(addresses.begin(), addresses.begin() + MAX_ADDRESSES), ";",
                              text);
  } else {
    StringParser::concatenate(addresses, ";", text);
  }
  return text;
}

std::string PW_PostwingServer::pendingAddrHandle() const {
  Guard g(mutex_);
  return addrRequester_.handle;
}

std::string PW_PostwingServer::pendingAttachHandle() const {
  Guard g(mutex_);
  return attachRequester_.handle;
}

int PW_PostwingServer::connectionCount() const {
  Guard g(mutex_);
  return int(handlers_.size());
}
