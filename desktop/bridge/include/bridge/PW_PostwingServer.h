// The desktop program's local server: the hook library's agents connect to it on the loopback
// interface and ask for the two dialogs; the server posts window messages to the main window,
// remembers which connection asked for which dialog, and sends the dialogs' results back on it.
//
// Thread rules:
// - start/stop: the main thread (the main window's constructor and destructor); tests may
//   start and stop again.
// - requestAddrDialog, requestAttachDialog, onMailWindowsClosed, onHandlerOpened,
//   onHandlerClosed: the reactor thread (called by the connection handlers).
// - sendSelectedAddr (main thread), sendAttachment (net-disk engine thread) and the other
//   getters: any thread.
// Locks: mutex_ guards the two pending requesters, handlers_ and listenAddr_. While it is held
// only a handler's send queue (sendData) and the hook library's window registry (closeWind)
// are locked. The handlers' own state is the reactor thread's.
#pragma once

#include "win32/windows.h"

#include "bridge/PW_AddinUiSvrHandler.h"

#include <ace/INET_Addr.h>
#include <ace/Thread_Mutex.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <vector>

// Posted to the main window (wParam 0, lParam 0).
#define WM_PW_SHOWADDRBOOK 0x80B5
#define WM_PW_SHOWATTACH 0x80B6

class PW_PostwingServer {
 public:
  static PW_PostwingServer* instance();

  // At most this many addresses of one field are sent.
  static const std::size_t MAX_ADDRESSES = 50;

  // Starts the reactor thread, listens on 127.0.0.1 at COMMON/listenPort (default 11111,
  // taken modulo 65536; 0 picks a free port) and starts the hook manager. 0 when listening;
  // -1 when the port could not be opened (logged; the threads run all the same).
  int start();
  // Stops listening, stops the hook manager, ends and joins the reactor thread, closes every
  // connection and forgets the requesters. Nothing when not started.
  void stop();

  // The window that receives WM_PW_SHOWADDRBOOK, WM_PW_SHOWATTACH and WM_CLOSE.
  void setMainWindow(HWND hWnd) { mainWindow_ = hWnd; }
  HWND mainWindow() const { return mainWindow_; }

  // The bound address (127.0.0.1 and the port), or port 0 when not listening.
  ACE_INET_Addr listenAddress() const;
  int listenPort() const;

  // A request arrived: store (handle, handler) as the pending requester of that kind,
  // replacing the older one, and post WM_PW_SHOWADDRBOOK / WM_PW_SHOWATTACH.
  void requestAddrDialog(const std::string& handle, PW_AddinUiSvrHandler* handler);
  void requestAttachDialog(const std::string& handle, PW_AddinUiSvrHandler* handler);
  // A compose window closed: forget its requesters and let the hook library drop it.
  void onMailWindowsClosed(const std::string& handle);
  // "mailSrvStopped": call the close hook, then post WM_CLOSE to the main window.
  void onServerStopRequested();
  // Called on the reactor thread before the WM_CLOSE of "mailSrvStopped" is posted, for what
  // must not wait for the main window's thread (null: nothing). Any thread may set it.
  typedef void (*CloseHook)();
  void setCloseHook(CloseHook hook) { closeHook_ = hook; }
  // A connection's handler came or goes; a closing one is forgotten as requester.
  void onHandlerOpened(PW_AddinUiSvrHandler* handler);
  void onHandlerClosed(PW_AddinUiSvrHandler* handler);

  // Sends "setSelectedAddr" (each list joined by joinAddresses) to the pending address-book
  // requester, which stays stored. False when none is pending or its connection refused the
  // reply (logged).
  bool sendSelectedAddr(const std::vector<std::string>& to, const std::vector<std::string>& cc,
                        const std::vector<std::string>& bcc);
  // Puts the links on the clipboard as "HTML Format" (owner: the given window) and, when that
  // worked, sends "setAttachment" to the pending attachment requester. False when none is
  // pending (the clipboard is then left alone), the clipboard failed, or the reply was refused.
  bool sendAttachment(const std::map<std::string, std::string>& keyToUrl, HWND owner);

  // The first MAX_ADDRESSES addresses joined with ";".
  static std::string joinAddresses(const std::vector<std::string>& addresses);

  // The handle text of the pending requester of each kind ("" when none).
  std::string pendingAddrHandle() const;
  std::string pendingAttachHandle() const;
  // Live connections.
  int connectionCount() const;

  PW_PostwingServer();  // use instance()

 private:
  struct Requester {
    std::string handle;
    PW_AddinUiSvrHandler* handler = 0;
  };
  void post(UINT msg) const;
  // Encodes the message and queues it on the requester's connection; mutex_ held.
  bool sendTo(const Requester& requester, const class PW_Message& message, const char* what);

  mutable ACE_Thread_Mutex mutex_;
  Requester addrRequester_;                  // guarded by mutex_
  Requester attachRequester_;                // guarded by mutex_
  std::set<PW_AddinUiSvrHandler*> handlers_;  // guarded by mutex_
  ACE_INET_Addr listenAddr_;                 // guarded by mutex_
  PW_Acceptor acceptor_;                     // start/stop thread
  bool started_ = false;                     // start/stop thread
  std::atomic<HWND> mainWindow_{nullptr};
  std::atomic<CloseHook> closeHook_{nullptr};
};
