// The hook library's side of the local bridge, inside a mail-client process: it connects on
// demand to the desktop program's local server on 127.0.0.1, sends the compose windows'
// requests ("showAddrDialog", "showAttachDialog", "mailWindowsClosed") and runs a receive
// thread that decodes the replies and hands them to the compose-window objects by handle.
//
// Thread rules:
// - connectUI, the three requests, sendMessage, get_handle: any thread (the mail client's UI
//   thread, under the requesting window object's agent mutex).
// - The receive thread reads its own socket without a lock, and looks windows up in the
//   registry (which hands out shared objects, so a window removed meanwhile stays alive until
//   the delivery returns); it takes mutex_ only at its end, to give up its socket.
// - shutdown and the destructor: any thread, the compose window's own included: they join the
//   receive threads, handling the messages sent to the calling thread while they wait.
// Locks: mutex_ (recursive) guards stream_, port_, recvHandle_ and threads_; it is held across
// a connect and a send, never while joining a receive thread. A socket that a receive thread
// reads is closed only by that thread, under mutex_, so no send can reach a reused descriptor.
// shutDown_ is atomic: it is set and read under mutex_ except by reopen, which takes no lock,
// so a compose window's registration (which reopens under the registry's mutex) never waits
// for another window's connect or send.
#pragma once

#include "win32/windows.h"

#include <ace/Recursive_Thread_Mutex.h>
#include <ace/SOCK_Stream.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

class ACE_Message_Block;

class PostwingUiAgent {
 public:
  static const int DEFAULT_PORT = 11111;
  // The receive buffer starts at this size and doubles while a reply is incomplete.
  static const std::size_t INITIAL_BUFFER_SIZE = 8192;

  // The agent of the calling (simulated) process, made on first use and kept for its life.
  static PostwingUiAgent* instance();

  // The process's agent (instance()), or a compose window's private one (Foxmail 7.0's attach
  // button): an agent keeps no window, the replies name theirs by handle.
  PostwingUiAgent();
  virtual ~PostwingUiAgent();  // shutdown()

  // 0 when connected (connecting to 127.0.0.1 on the port first when not, and keeping the port
  // for the requests' own connects), -1 otherwise. With
  // startThread (a request whose replies must be read), a receive thread is started for the
  // connection when none reads it yet. Without it (a window's close), an agent that has been
  // shut down and neither reopened nor asked for a dialog since does not connect again: -1.
  int connectUI(int port, bool startThread);

  // Send a request with the compose window's root handle ("%ld") in "handle"; 0 or -1.
  int showAddrDialog(const std::string& to, const std::string& cc, const std::string& bcc, HWND root);
  int showAttachDialog(HWND root);
  // "mailWindowsClosed"; connects without a receive thread when not connected (never after a
  // shutdown, as connectUI without startThread).
  int closeDialog(HWND root);

  // Sends the block's unread bytes whole (connecting first when not connected) and releases
  // the block; 0, or -1 after which the connection is dropped and the next request connects.
  int sendMessage(ACE_Message_Block* block);

  // A "setAttachment" for the window whose root handle is the text: paste into it.
  void onAttachSelected(const std::string& handle, const std::string& link);

  // The socket of the current connection (ACE_INVALID_HANDLE when none).
  virtual ACE_HANDLE get_handle() const;

  bool connected() const { return connected_; }
  // True while a receive thread reads the current connection.
  bool receiving() const;

  // Drops the connection and waits for every receive thread to end (handling messages sent to
  // the calling thread meanwhile). The next request for a dialog connects again; a close that
  // comes later does not.
  void shutdown();
  // A compose window has taken the agent after a shutdown: its close may connect again. Takes
  // no lock: it returns at once, even while a request waits in a connect or a send.
  void reopen();

  // Tests: connect to this port instead of the one the callers give (0: theirs).
  static void setPortOverride(int port);
  static int portOverride();

 private:
  struct ReceiveStart;
  static DWORD WINAPI recvThread(LPVOID arg);
  void receiveLoop(ACE_HANDLE handle);
  // One read from the socket, then every whole reply in the buffer; 0 to go on, -1 to end.
  int handle_input(ACE_HANDLE handle, ACE_Message_Block& buffer);
  void dispatch(const class PW_Message& message);
  // mutex_ held: connectUI's work. Not connected, it connects to `port`, or with none to the
  // port of the last connect (DEFAULT_PORT before any), as the requests do.
  int connect_i(bool startThread, std::optional<int> port = std::nullopt);
  // mutex_ held: shuts the current socket down and forgets it (its receive thread, if any,
  // closes it).
  void dropConnection_i();
  // mutex_ held: closes the handles of receive threads that have ended.
  void reapThreads_i();

  mutable ACE_Recursive_Thread_Mutex mutex_;
  ACE_SOCK_Stream stream_;                        // guarded by mutex_
  int port_ = DEFAULT_PORT;                       // guarded by mutex_
  ACE_HANDLE recvHandle_ = ACE_INVALID_HANDLE;    // guarded by mutex_: socket a receive thread reads
  std::vector<HANDLE> threads_;                   // guarded by mutex_: receive threads not yet joined
  std::atomic<bool> connected_{false};
  std::atomic<bool> shutDown_{false};  // shut down, not reopened or asked for a dialog since
};
