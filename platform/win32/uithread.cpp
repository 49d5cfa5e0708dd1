// A thread with a message loop in a simulated process.
#include "internal.h"

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

}  // namespace w32subst
