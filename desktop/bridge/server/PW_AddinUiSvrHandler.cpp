#include "bridge/PW_AddinUiSvrHandler.h"

#include "bridge/PW_Message.h"
#include "bridge/PW_PostwingServer.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"

#include <ace/Message_Block.h>
#include <ace/OS_NS_errno.h>
#include <ace/Reactor.h>

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>

const std::size_t PW_AddinUiSvrHandler::MAX_BUFFER_SIZE = PW_Message::MAX_HEAD_LENGTH + PW_Message::MAX_BODY_LENGTH;

namespace {
bool wouldBlock(int error) { return error == EWOULDBLOCK || error == EAGAIN || error == EINTR; }
}  // namespace

PW_AddinUiSvrHandler::PW_AddinUiSvrHandler() : recvBuffer_(new ACE_Message_Block(INITIAL_BUFFER_SIZE)) {
  sendQueue_.high_water_mark(SEND_QUEUE_LIMIT);
  sendQueue_.low_water_mark(SEND_QUEUE_LIMIT);
}

PW_AddinUiSvrHandler::~PW_AddinUiSvrHandler() {
  closing_ = true;  // the base class has nothing left to shut down
  sendQueue_.close();  // releases the queued blocks
  if (sending_) sending_->release();
  recvBuffer_->release();
}

int PW_AddinUiSvrHandler::open(void*) {
  IM_TRACE("PW_AddinUiSvrHandler::open");
  if (registered_ || reactor() == 0) return -1;
  PW_PostwingServer::instance()->onHandlerOpened(this);
  if (reactor()->notify(this, ACE_Event_Handler::EXCEPT_MASK) == -1) return -1;
  int size = 4096;
  peer().set_option(SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  peer().set_option(SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  return 0;
}

int PW_AddinUiSvrHandler::handle_exception(ACE_HANDLE) {
  if (closed_) return 0;
  if (!registered_) {
    if (reactor()->register_handler(this, ACE_Event_Handler::READ_MASK) == -1) {
      IM_LOG_ERROR("PostwingServer, [status = open failed, reason = register_handler failed]");
      return -1;
    }
    registered_ = true;
    alive_ = true;
    IM_LOG_INFO("PostwingServer, [status = open success]");
  } else if (!writeRegistered_) {
    if (reactor()->register_handler(this, ACE_Event_Handler::WRITE_MASK) == -1) {
      IM_LOG_ERROR("PostwingServer, [status = sendData failed, reason = register_handler failed]");
      return -1;
    }
    writeRegistered_ = true;
  }
  return 0;
}

int PW_AddinUiSvrHandler::handle_input(ACE_HANDLE) {
  if (recvBuffer_->space() == 0) {
    const std::size_t size = recvBuffer_->size();
    if (size >= MAX_BUFFER_SIZE) {
      // Cannot happen while the codec bounds its units; kept so that nothing grows further.
      IM_LOG_ERROR("PostwingServer, [status = closed, reason = unit longer than %lu bytes]",
                   (unsigned long)MAX_BUFFER_SIZE);
      alive_ = false;
      return -1;
    }
    if (recvBuffer_->size(std::min(size * 2, MAX_BUFFER_SIZE)) == -1) {
      IM_LOG_ERROR("PostwingServer, [status = closed, reason = no memory for the receive buffer]");
      alive_ = false;
      return -1;
    }
  }
  const ssize_t n = peer().recv(recvBuffer_->wr_ptr(), recvBuffer_->space());
  if (n < 0 && wouldBlock(errno)) return 0;  // nothing to read after all
  if (n <= 0) {
    alive_ = false;
    return -1;
  }
  recvBuffer_->wr_ptr(std::size_t(n));
  if (!alive_) return 0;
  IM_LOG_DEBUG("PW_AddinUiSvrHandler::handle_input ok");
  return dispatch();
}

int PW_AddinUiSvrHandler::dispatch() {
  PW_PostwingServer* server = PW_PostwingServer::instance();
  // Every whole unit is handled now: the socket was drained, so no further read event may
  // come for units that are already here.
  for (;;) {
    PW_Message message;
    std::size_t consumed = 0;
    const int result = message.decode(*recvBuffer_, consumed);
    if (result == PW_Message::DECODE_INCOMPLETE) break;
    if (result != PW_Message::DECODE_OK) {
      IM_LOG_ERROR("PostwingServer, [status = closed, reason = malformed unit]");
      alive_ = false;
      return -1;
    }
    const std::string handle = message.getField("handle");
    const std::string& command = message.getCommand();
    if (command == "showAddrDialog") {
      server->requestAddrDialog(handle, this);
    } else if (command == "showAttachDialog") {
      server->requestAttachDialog(handle, this);
    } else if (command == "mailWindowsClosed") {
      server->onMailWindowsClosed(handle);
    } else if (command == "mailSrvStopped") {
      server->onServerStopRequested();
    }
    recvBuffer_->rd_ptr(consumed);
  }
  recvBuffer_->crunch();
  return 0;
}

int PW_AddinUiSvrHandler::sendData(const char* data, std::size_t length) {
  IM_TRACE("PW_AddinUiSvrHandler::sendData");
  if (!alive_ || reactor() == 0) return -1;
  ACE_Message_Block* block = new ACE_Message_Block(length);
  block->copy(data, length);
  // Never wait for room: the caller holds the server's mutex.
  ACE_Time_Value noWait(ACE_Time_Value::zero);
  if (sendQueue_.is_full() || sendQueue_.enqueue_tail(block, &noWait) == -1) {
    block->release();
    IM_LOG_ERROR("PostwingServer, [status = sendData failed, reason = send queue full]");
    return -1;
  }
  if (reactor()->notify(this, ACE_Event_Handler::EXCEPT_MASK) == -1) {
    IM_LOG_ERROR("PostwingServer, [status = sendData failed, reason = notify failed]");
    return -1;
  }
  IM_LOG_DEBUG("PW_AddinUiSvrHandler::sendData ok");
  return 0;
}

int PW_AddinUiSvrHandler::handle_output(ACE_HANDLE) {
  for (;;) {
    if (sending_ == 0) {
      if (sendQueue_.is_empty()) {
        reactor()->remove_handler(this, ACE_Event_Handler::WRITE_MASK | ACE_Event_Handler::DONT_CALL);
        writeRegistered_ = false;
        return 0;
      }
      ACE_Time_Value noWait(ACE_Time_Value::zero);
      if (sendQueue_.dequeue_head(sending_, &noWait) == -1) {
        sending_ = 0;
        if (errno == EWOULDBLOCK) return 0;
        alive_ = false;
        return -1;
      }
    }
    // MSG_NOSIGNAL: a peer that went away gives EPIPE here, never SIGPIPE.
    const ssize_t n = peer().send(sending_->rd_ptr(), sending_->length(), MSG_NOSIGNAL);
    if (n < 0) {
      if (wouldBlock(errno)) return 0;
      IM_LOG_ERROR("PostwingServer, [status = sendData failed, reason = send failed, errno = %d]", errno);
      alive_ = false;
      sending_->release();
      sending_ = 0;
      return -1;
    }
    sending_->rd_ptr(std::size_t(n));
    if (sending_->length() != 0) return 0;  // the rest at the next writable event
    sending_->release();
    sending_ = 0;
  }
}

int PW_AddinUiSvrHandler::handle_close(ACE_HANDLE, ACE_Reactor_Mask) {
  // The reactor may call this once per mask that failed; everything is done the first time.
  if (closed_) return 0;
  closed_ = true;
  alive_ = false;
  PW_PostwingServer::instance()->onHandlerClosed(this);
  destroy();
  // A notification still queued for this handler must not reach it after the delete.
  if (reactor()) reactor()->purge_pending_notifications(this);
  peer().close();
  delete this;
  return 0;
}

int PW_AddinUiSvrHandler::close(u_long) { return handle_close(ACE_INVALID_HANDLE, ACE_Event_Handler::ALL_EVENTS_MASK); }

void PW_AddinUiSvrHandler::destroy() {
  if (registered_ && reactor()) {
    reactor()->remove_handler(this, ACE_Event_Handler::ALL_EVENTS_MASK | ACE_Event_Handler::DONT_CALL);
  }
  registered_ = false;
  writeRegistered_ = false;
}
