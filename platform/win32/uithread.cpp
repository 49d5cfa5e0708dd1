// A thread with a message loop in a simulated process.
#include "internal.h"

#include <atomic>
#include <thread>

namespace w32subst {

struct UiThread::Impl {
  std::thread thread;
  bool stopped = false;
};

UiThread::UiThread(DWORD pid) : impl_(new Impl()) {
  detail::ThreadInfo* info = detail::newThreadInfo(pid);
  tid_ = info->tid;
  impl_->thread = std::thread([info] {
    detail::adoptThreadInfo(info);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  });
}

UiThread::~UiThread() {
  stop();
  delete impl_;
}

void UiThread::stop() {
  if (impl_->stopped) return;
  impl_->stopped = true;
  PostThreadMessageA(tid_, WM_QUIT, 0, 0);
  impl_->thread.join();
}

struct Hold::Shared {
  std::atomic<bool> held{false};
  std::atomic<bool> released{false};
  int timeoutMs = 0;
};

Hold::Hold(int timeoutMs) : shared_(std::make_shared<Shared>()) { shared_->timeoutMs = timeoutMs; }

Hold::~Hold() { release(); }

bool Hold::post(DWORD threadId, std::function<void()> then) {
  std::shared_ptr<Shared> s = shared_;
  return postToThread(threadId, [s, then] {
    s->held = true;
    waitUntil([s] { return s->released.load(); }, s->timeoutMs);
    if (then) then();
  });
}

bool Hold::waitHeld(int timeoutMs) const {
  std::shared_ptr<Shared> s = shared_;
  return waitUntil([s] { return s->held.load(); }, timeoutMs);
}

void Hold::release() { shared_->released = true; }

}  // namespace w32subst
