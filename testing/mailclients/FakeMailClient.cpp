// Simulated mail-client compose windows.
#include "testing/FakeMailClient.h"

#include <ace/Guard_T.h>
#include <ace/Thread_Mutex.h>

#include <cstdlib>
#include <cstring>
#include <map>

namespace pwtest {

namespace {
enum class Role { Plain, Root, Edit, Editor, LayoutManager, PanelF70, OutlookDialog };

struct EditState {
  std::u16string text;
  size_t caret = 0;
  bool menuOpen = false;
  bool pendingDown = false;  // Foxmail 7 layout manager: a press inside its label
};

LRESULT CALLBACK fakeProc(HWND h, UINT m, WPARAM w, LPARAM l);

const char16_t* kDraft = u"<p>draft</p>";
}  // namespace

struct FakeMailClient::Impl {
  struct Tag {
    Impl* impl;
    Role role;
  };
  DWORD pid = 0;
  std::unique_ptr<w32subst::UiThread> ui;
  mutable ACE_Thread_Mutex mutex;  // guards everything below
  std::map<HWND, EditState> state;
  std::map<HWND, Role> roles;
  std::map<HWND, HWND> toFieldOf;  // Foxmail 7 layout manager -> its To edit
  std::vector<std::string> events;
  std::vector<RecordedMessage> log;
  std::vector<HWND> roots;
  std::vector<std::unique_ptr<Tag>> tags;

  // UI thread only.
  HWND create(Role role, const char* cls, const std::u16string& title, DWORD style, int x, int y,
              int width, int height, HWND parent, int id = 0) {
    Tag* tag;
    {
      ACE_Guard<ACE_Thread_Mutex> g(mutex);
      tags.push_back(std::unique_ptr<Tag>(new Tag{this, role}));
      tag = tags.back().get();
    }
    registerClass(cls);
    std::u16string wcls;
    for (const char* p = cls; *p; ++p) wcls.push_back((char16_t)(unsigned char)*p);
    HWND h = CreateWindowExW(0, wcls.c_str(), title.c_str(), style, x, y, width, height, parent,
                             (HMENU)(intptr_t)id, nullptr, tag);
    ACE_Guard<ACE_Thread_Mutex> g(mutex);
    roles[h] = role;
    if (role == Role::Edit) state[h] = EditState();
    if (role == Role::Editor) {
      EditState s;
      s.text = kDraft;
      s.caret = s.text.size();
      state[h] = s;
    }
    return h;
  }

  void registerClass(const char* cls) {
    if (std::strcmp(cls, "Button") == 0) return;  // the system's
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = fakeProc;
    wc.lpszClassName = cls;
    RegisterClassExA(&wc);  // once per simulated process; later calls fail harmlessly
  }

  void event(const std::string& e) {
    ACE_Guard<ACE_Thread_Mutex> g(mutex);
    events.push_back(e);
  }

  HWND child(Role role, const char* cls, int x, int y, int r, int b, HWND parent, int id = 0,
             const std::u16string& title = u"") {
    HWND h = create(role, cls, title, WS_CHILD | WS_VISIBLE, x, y, r - x, b - y, parent, id);
    if (madeHook) madeHook(h);
    return h;
  }
  std::function<void(HWND)> madeHook;  // UI thread only: ComposeOptions::whileBuilding during build

  // The form is built hidden and shown once whole, unless the options ask for a window that
  // is shown before its controls exist.
  ComposeWindow build(MailKind kind, const ComposeOptions& o) {
    ComposeWindow c;
    c.kind = kind;
    bool early = (bool)o.whileBuilding;
    DWORD style = WS_OVERLAPPEDWINDOW | (o.visible && early ? WS_VISIBLE : 0);
    const char* rootClass = kind == MailKind::Foxmail7    ? "TFoxComposeForm.UnicodeClass"
                            : kind == MailKind::Foxmail70 ? "TF_compose.UnicodeClass"
                                                          : "OpusApp";
    const char16_t* untitled = kind == MailKind::Foxmail7    ? u"写邮件"
                               : kind == MailKind::Foxmail70 ? u"未命名 - 写邮件"
                                                             : u"未命名的邮件";
    c.root = create(Role::Root, rootClass, o.title.empty() ? untitled : o.title, style, o.x, o.y, o.width,
                    o.height, nullptr);
    {
      ACE_Guard<ACE_Thread_Mutex> g(mutex);
      roots.push_back(c.root);
    }
    if (early) {
      HWND root = c.root;
      madeHook = [&o, root](HWND made) { o.whileBuilding(root, made); };
      madeHook(root);
    }
    if (kind == MailKind::Foxmail7) {
      c.dock = child(Role::Plain, "TTBXDock", 0, 0, 1000, 40, c.root);
      c.toolbar = child(Role::Plain, "TTBXToolbar", 0, 0, 1000, 40, c.dock);
      c.toolbarPanel = child(Role::Plain, "TXPanel", 0, 0, 200, 40, c.toolbar);
      c.container = child(Role::LayoutManager, "TLayoutManager", 0, 40, 1000, 160, c.root);
      c.bcc = child(Role::Edit, "TFMZRichEdit.UnicodeClass", 60, 88, 1000, 112, c.container);
      c.cc = child(Role::Edit, "TFMZRichEdit.UnicodeClass", 60, 52, 1000, 76, c.container);
      c.to = child(Role::Edit, "TFMZRichEdit.UnicodeClass", 60, 16, 1000, 40, c.container);
      {
        ACE_Guard<ACE_Thread_Mutex> g(mutex);
        toFieldOf[c.container] = c.to;
      }
      c.subject = child(Role::Edit, "TFMZRichEdit", 0, 160, 1000, 184, c.root);
      c.editor = child(Role::Editor, "Chrome_RenderWidgetHostHWND", 0, 200, 1000, 780, c.root);
    } else if (kind == MailKind::Foxmail70) {
      c.dock = child(Role::Plain, "TTBXDock", 0, 0, 1000, 40, c.root);
      c.toolbar = child(Role::Plain, "TTBXToolbar", 0, 0, 1000, 40, c.dock);
      c.container = child(Role::PanelF70, "TXPanel", 0, 40, 1000, 160, c.root);
      c.recipientButton = child(Role::Plain, "TTBXButton", 2, 16, 80, 40, c.container, 0, u"收件人");
      c.bcc = child(Role::Edit, "TZRichEdit", 82, 88, 1000, 112, c.container);
      c.cc = child(Role::Edit, "TZRichEdit", 82, 52, 1000, 76, c.container);
      c.to = child(Role::Edit, "TZRichEdit", 82, 16, 1000, 40, c.container);
      c.editor = child(Role::Editor, "Internet Explorer_Server", 0, 200, 1000, 780, c.root);
    } else {
      c.container = child(Role::OutlookDialog, "#32770", 0, 0, 1000, 200, c.root);
      const char16_t* labels[] = {u"收件人...", u"抄送...", u"密件抄送...", u"发送"};
      for (int i = 0; i < 4; ++i)
        c.outlookButtons.push_back(
            child(Role::Plain, "Button", 0, 10 + 30 * i, 80, 34 + 30 * i, c.container, 4353 + i, labels[i]));
      c.to = child(Role::Edit, "RichEdit20WPT", 90, 10, 1000, 34, c.container, 4097);
      c.cc = child(Role::Edit, "RichEdit20WPT", 90, 40, 1000, 64, c.container, 4098);
      c.bcc = child(Role::Edit, "RichEdit20WPT", 90, 70, 1000, 94, c.container, 4100);
      c.editor = child(Role::Editor, "_WwG", 0, 200, 1000, 780, c.root);
    }
    madeHook = nullptr;
    if (o.visible && !early) ShowWindow(c.root, SW_SHOW);
    return c;
  }

  // The client's own address book for a recipient field: its window opens (and, here, is
  // closed at once by the user), then the caret goes to the field.
  void ownAddressBook(HWND field) {
    HWND book = create(Role::Plain, "TClientAddressBook", u"地址簿", WS_POPUP, 300, 200, 400, 300, nullptr);
    if (book) DestroyWindow(book);
    if (field) SetFocus(field);
  }

  void paste(HWND h) {
    if (!OpenClipboard(nullptr)) {
      event("pasteFailed");
      return;
    }
    std::string fragment;
    UINT fmt = RegisterClipboardFormatA("HTML Format");
    HANDLE mem = GetClipboardData(fmt);
    if (const char* text = mem ? (const char*)GlobalLock(mem) : nullptr) {
      std::string all(text, strnlen(text, GlobalSize(mem)));
      GlobalUnlock(mem);
      auto number = [&](const char* name) -> long {
        auto p = all.find(name);
        return p == std::string::npos ? -1 : std::atol(all.c_str() + p + std::strlen(name));
      };
      long start = number("StartFragment:"), end = number("EndFragment:");
      if (start >= 0 && end >= start && (size_t)end <= all.size())
        fragment = all.substr((size_t)start, (size_t)(end - start));
    }
    CloseClipboard();
    std::u16string units;
    int n = fragment.empty() ? 0 : MultiByteToWideChar(CP_UTF8, 0, fragment.data(), (int)fragment.size(), nullptr, 0);
    if (n > 0) {
      units.resize((size_t)n);
      MultiByteToWideChar(CP_UTF8, 0, fragment.data(), (int)fragment.size(), &units[0], n);
    }
    ACE_Guard<ACE_Thread_Mutex> g(mutex);
    EditState& s = state[h];
    s.text.insert(s.caret, units);
    s.caret += units.size();
    events.push_back("paste");
  }

  LRESULT proc(HWND h, UINT m, WPARAM w, LPARAM l, Role role) {
    {
      ACE_Guard<ACE_Thread_Mutex> g(mutex);
      log.push_back(RecordedMessage{h, m, w, l});
    }
    POINT pt{GET_X_LPARAM(l), GET_Y_LPARAM(l)};
    switch (role) {
      case Role::Edit:
        if (m == WM_IME_CHAR) {
          std::u16string text;
          {
            ACE_Guard<ACE_Thread_Mutex> g(mutex);
            EditState& s = state[h];
            s.text.insert(s.text.begin() + (long)s.caret, (char16_t)w);
            s.caret++;
            text = s.text;
          }
          SetWindowTextW(h, text.c_str());
          return 0;
        }
        if (m == WM_LBUTTONDOWN) {
          SetFocus(h);
          return 0;
        }
        break;
      case Role::Editor:
        if (m == WM_LBUTTONDOWN) {
          SetFocus(h);
          ACE_Guard<ACE_Thread_Mutex> g(mutex);
          state[h].caret = 0;  // deliberately not at the end
          return 0;
        }
        if (m == WM_RBUTTONUP) {
          ACE_Guard<ACE_Thread_Mutex> g(mutex);
          state[h].menuOpen = true;
          events.push_back("contextMenu(" + std::to_string(pt.x) + "," + std::to_string(pt.y) + ")");
          return 0;
        }
        if (m == WM_KEYDOWN) {
          bool menuOpen;
          {
            ACE_Guard<ACE_Thread_Mutex> g(mutex);
            menuOpen = state[h].menuOpen;
            state[h].menuOpen = false;
          }
          if (menuOpen) {
            if (w == 'P') paste(h);
            return 0;
          }
          ACE_Guard<ACE_Thread_Mutex> g(mutex);
          if (w == VK_END && GetKeyState(VK_CONTROL) < 0) state[h].caret = state[h].text.size();
          if (w == VK_NEXT) events.push_back("nextPage");
          return 0;
        }
        break;
      case Role::LayoutManager: {
        RECT label{0, 16, 58, 40};
        if (m == WM_LBUTTONDOWN) {
          ACE_Guard<ACE_Thread_Mutex> g(mutex);
          state[h].pendingDown = PtInRect(&label, pt) != FALSE;
          return 0;
        }
        if (m == WM_LBUTTONUP) {
          HWND field = nullptr;
          {
            ACE_Guard<ACE_Thread_Mutex> g(mutex);
            if (state[h].pendingDown && PtInRect(&label, pt)) {
              events.push_back("ownAddressBook(to)");
              field = toFieldOf[h];
            }
            state[h].pendingDown = false;
          }
          if (field) ownAddressBook(field);
          return 0;
        }
        break;
      }
      case Role::PanelF70:
        if (m == WM_PARENTNOTIFY && LOWORD(w) == WM_LBUTTONDOWN && pt.x >= 2 && pt.x <= 79) {
          event("ownAddressBook");
          return 0;
        }
        break;
      case Role::OutlookDialog:
        if (m == WM_COMMAND && HIWORD(w) == 0 && LOWORD(w) >= 4353 && LOWORD(w) <= 4355) {
          const char* which[] = {"to", "cc", "bcc"};
          const int fields[] = {4097, 4098, 4100};
          event(std::string("ownAddressBook(") + which[LOWORD(w) - 4353] + ")");
          ownAddressBook(GetDlgItem(h, fields[LOWORD(w) - 4353]));
          return 0;
        }
        break;
      default:
        break;
    }
    return DefWindowProcW(h, m, w, l);
  }
};

namespace {
LRESULT CALLBACK fakeProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_NCCREATE) SetWindowLongPtrW(h, GWLP_USERDATA, (LONG_PTR)((CREATESTRUCTA*)l)->lpCreateParams);
  auto* tag = (FakeMailClient::Impl::Tag*)GetWindowLongPtrW(h, GWLP_USERDATA);
  if (!tag) return DefWindowProcW(h, m, w, l);
  return tag->impl->proc(h, m, w, l, tag->role);
}
}  // namespace

FakeMailClient::FakeMailClient(DWORD pid) : impl_(new Impl()) {
  impl_->pid = pid;
  impl_->ui.reset(new w32subst::UiThread(pid));
}

FakeMailClient::~FakeMailClient() {
  std::vector<HWND> roots;
  {
    ACE_Guard<ACE_Thread_Mutex> g(impl_->mutex);
    roots = impl_->roots;
  }
  impl_->ui->run([&] {
    for (HWND r : roots)
      if (IsWindow(r)) DestroyWindow(r);
  });
  impl_->ui->stop();
}

DWORD FakeMailClient::pid() const { return impl_->pid; }
DWORD FakeMailClient::threadId() const { return impl_->ui->threadId(); }
void FakeMailClient::run(const std::function<void()>& fn) { impl_->ui->run(fn); }
bool FakeMailClient::waitIdle(int timeoutMs) { return impl_->ui->waitIdle(timeoutMs); }

ComposeWindow FakeMailClient::openCompose(MailKind kind, const ComposeOptions& options) {
  ComposeWindow c;
  impl_->ui->run([&] { c = impl_->build(kind, options); });
  return c;
}

HWND FakeMailClient::openWindow(const char* className, const std::u16string& title, bool visible) {
  HWND h = nullptr;
  impl_->ui->run([&] {
    h = impl_->create(Role::Root, className, title, WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0),
                      100, 100, 600, 400, nullptr);
    ACE_Guard<ACE_Thread_Mutex> g(impl_->mutex);
    impl_->roots.push_back(h);
  });
  return h;
}

void FakeMailClient::show(HWND h) {
  impl_->ui->run([h] { ShowWindow(h, SW_SHOW); });
}

void FakeMailClient::close(HWND root) {
  impl_->ui->run([root] { DestroyWindow(root); });
}

std::u16string FakeMailClient::text(HWND edit) const {
  ACE_Guard<ACE_Thread_Mutex> g(impl_->mutex);
  auto it = impl_->state.find(edit);
  return it == impl_->state.end() ? std::u16string() : it->second.text;
}

std::u16string FakeMailClient::body(HWND editor) const { return text(editor); }

size_t FakeMailClient::caret(HWND h) const {
  ACE_Guard<ACE_Thread_Mutex> g(impl_->mutex);
  auto it = impl_->state.find(h);
  return it == impl_->state.end() ? 0 : it->second.caret;
}

bool FakeMailClient::contextMenuOpen(HWND editor) const {
  ACE_Guard<ACE_Thread_Mutex> g(impl_->mutex);
  auto it = impl_->state.find(editor);
  return it != impl_->state.end() && it->second.menuOpen;
}

std::vector<std::string> FakeMailClient::events() const {
  ACE_Guard<ACE_Thread_Mutex> g(impl_->mutex);
  return impl_->events;
}

std::vector<RecordedMessage> FakeMailClient::messages(HWND h, UINT msg) const {
  ACE_Guard<ACE_Thread_Mutex> g(impl_->mutex);
  std::vector<RecordedMessage> out;
  for (auto& r : impl_->log)
    if (r.hwnd == h && (msg == 0 || r.msg == msg)) out.push_back(r);
  return out;
}

void FakeMailClient::clearLog() {
  ACE_Guard<ACE_Thread_Mutex> g(impl_->mutex);
  impl_->log.clear();
  impl_->events.clear();
}

// ---- taskbar --------------------------------------------------------------------------------
namespace {
LRESULT CALLBACK taskbarProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }
}  // namespace

FakeTaskbar::FakeTaskbar(RECT r) : ui_(new w32subst::UiThread(50)) {
  ui_->run([&] {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = taskbarProc;
    wc.lpszClassName = "Shell_TrayWnd";
    RegisterClassExA(&wc);
    hwnd_ = CreateWindowExA(WS_EX_TOOLWINDOW, "Shell_TrayWnd", "", WS_POPUP | WS_VISIBLE, r.left,
                            r.top, r.right - r.left, r.bottom - r.top, nullptr, nullptr, nullptr,
                            nullptr);
  });
}

FakeTaskbar::~FakeTaskbar() {
  ui_->run([this] { DestroyWindow(hwnd_); });
  ui_->stop();
}

}  // namespace pwtest
