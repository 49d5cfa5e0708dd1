// One connection of the local server: a hook library's agent inside a mail client. Made by
// the acceptor on the reactor thread, it reads and dispatches the agent's requests and writes
// the replies that other threads queue with sendData. It deletes itself when the connection
// closes (handle_close), after telling the server so that no requester points at it.
//
// Thread rules: everything but sendData runs on the reactor thread (PW_ServerTask). sendData
// may be called from any thread, but only while the caller holds the server's mutex and got
// the handler from the server (the handler cannot be deleted meanwhile: its handle_close first
// takes that mutex).
// Members: the flags, the receive buffer and the block being written belong to the reactor
// thread; alive_ is atomic; sendQueue_ has its own lock (the ACE queue's).
#pragma once

#include <ace/Acceptor.h>
#include <ace/Message_Queue.h>
#include <ace/SOCK_Acceptor.h>
#include <ace/SOCK_Stream.h>
#include <ace/Svc_Handler.h>
#include <ace/Synch_Traits.h>

#include <atomic>
#include <cstddef>

class ACE_Message_Block;

class PW_AddinUiSvrHandler : public ACE_Svc_Handler<ACE_SOCK_STREAM, ACE_MT_SYNCH> {
 public:
  typedef ACE_Svc_Handler<ACE_SOCK_STREAM, ACE_MT_SYNCH> Base;

  // The receive buffer starts at this size and doubles while a unit is incomplete, up to the
  // largest unit the codec accepts; a connection that needs more is closed.
  static const std::size_t INITIAL_BUFFER_SIZE = 4096;
  static const std::size_t MAX_BUFFER_SIZE;
  // Bytes queued for writing at most; sendData refuses more (a peer that does not read).
  static const std::size_t SEND_QUEUE_LIMIT = 256 * 1024;

  PW_AddinUiSvrHandler();
  ~PW_AddinUiSvrHandler() override;

  // Reactor callbacks.
  int handle_input(ACE_HANDLE fd = ACE_INVALID_HANDLE) override;
  int handle_output(ACE_HANDLE fd = ACE_INVALID_HANDLE) override;
  // Runs for the handler's notifications: registers it for reading, and later for writing.
  int handle_exception(ACE_HANDLE fd = ACE_INVALID_HANDLE) override;
  // Forgets the handler at the server, leaves the reactor and deletes the handler; once.
  int handle_close(ACE_HANDLE fd = ACE_INVALID_HANDLE,
                   ACE_Reactor_Mask mask = ACE_Event_Handler::ALL_EVENTS_MASK) override;
  // Called by the acceptor: asks the reactor for the notification that registers the handler.
  int open(void* acceptor = 0) override;
  // handle_close for all events.
  int close(u_long flags = 0) override;
  // Leaves the reactor (reading and writing) without a handle_close call.
  void destroy() override;

  // Queues a copy of the bytes and asks the reactor thread to write them. 0 when queued; -1
  // when the connection is not usable, the queue is full or the reactor cannot be told.
  int sendData(const char* data, std::size_t length);

  bool alive() const { return alive_; }

 private:
  // Handles every whole unit in the receive buffer; -1 when the connection must close.
  int dispatch();

  bool registered_ = false;        // reactor thread
  bool writeRegistered_ = false;   // reactor thread
  bool closed_ = false;            // reactor thread (or the stopping thread after the loop)
  std::atomic<bool> alive_{false};
  ACE_Message_Block* recvBuffer_;  // reactor thread
  ACE_Message_Queue<ACE_MT_SYNCH> sendQueue_;
  ACE_Message_Block* sending_ = 0;  // reactor thread: the block being written
};

// Accepts the agents' connections on the server task's reactor: one handler per connection.
typedef ACE_Acceptor<PW_AddinUiSvrHandler, ACE_SOCK_ACCEPTOR> PW_Acceptor;
