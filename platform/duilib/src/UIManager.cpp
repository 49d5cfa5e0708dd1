// CPaintManagerUI.
#include "duilib/UIManager.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace DuiLib {

namespace {
struct Globals {
  std::mutex lock;  // guards every field
  HINSTANCE instance = nullptr;
  CDuiString resourcePath;
};
Globals& globals() {
  static Globals* g = new Globals();  // never destroyed: windows may outlive static destructors
  return *g;
}

bool fileExists(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool dirExists(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The entry of dir whose name equals name without regard to ASCII case, or "".
std::string findNoCase(const std::string& dir, const std::string& name) {
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return "";
  std::string found;
  while (dirent* e = readdir(d)) {
    if (CDuiString(e->d_name).CompareNoCase(name.c_str()) == 0) {
      found = e->d_name;
      break;
    }
  }
  closedir(d);
  return found;
}

CControlUI* CALLBACK findByName(CControlUI* c, LPVOID data) {
  return c->GetName() == static_cast<LPCTSTR>(data) ? c : nullptr;
}
CControlUI* CALLBACK findHit(CControlUI* c, LPVOID) { return c; }
CControlUI* CALLBACK forgetName(CControlUI* c, LPVOID pm) {
  static_cast<CPaintManagerUI*>(pm)->ForgetName(c);
  return nullptr;
}

const UINT kMaxTimerEventsPerAdvance = 100000;
}  // namespace

CPaintManagerUI::CPaintManagerUI() = default;

CPaintManagerUI::~CPaintManagerUI() {
  m_aNotifiers.clear();
  m_aMessageFilters.clear();
  CControlUI* root = m_pRoot;
  m_pRoot = nullptr;
  delete root;
  m_aTimers.clear();
  // Named controls that outlive the window (taken out, not destroyed) forget this manager.
  for (auto& name : m_mNameHash)
    for (CControlUI* c : name.second.controls)
      if (c) {
        c->m_nNameKey = 0;
        c->m_pManager = nullptr;
      }
}

void CPaintManagerUI::SetInstance(HINSTANCE hInst) {
  std::lock_guard<std::mutex> g(globals().lock);
  globals().instance = hInst;
}

HINSTANCE CPaintManagerUI::GetInstance() {
  std::lock_guard<std::mutex> g(globals().lock);
  return globals().instance;
}

CDuiString CPaintManagerUI::GetInstancePath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return CDuiString("./");
  std::string p(buf, (size_t)n);
  size_t slash = p.rfind('/');
  return CDuiString(slash == std::string::npos ? std::string("./") : p.substr(0, slash + 1));
}

CDuiString CPaintManagerUI::GetCurrentPath() {
  char buf[4096];
  if (!getcwd(buf, sizeof(buf))) return CDuiString(".");
  return CDuiString(buf);
}

void CPaintManagerUI::SetResourcePath(LPCTSTR pStrPath) {
  std::string p = MapPath(pStrPath).str();
  if (!p.empty() && p.back() != '/') p += '/';
  std::lock_guard<std::mutex> g(globals().lock);
  globals().resourcePath = p;
}

const CDuiString& CPaintManagerUI::GetResourcePath() {
  static thread_local CDuiString copy;
  {
    std::lock_guard<std::mutex> g(globals().lock);
    copy = globals().resourcePath;
  }
  if (copy.IsEmpty()) copy = GetInstancePath();
  return copy;
}

void CPaintManagerUI::MessageLoop() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

CDuiString CPaintManagerUI::MapPath(LPCTSTR path) {
  std::string p(path ? path : "");
  std::replace(p.begin(), p.end(), '\\', '/');
  // Collapse doubled separators (a folder ending in '/' joined with one starting with it).
  std::string out;
  for (char c : p) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  if (out.empty() || fileExists(out) || dirExists(out)) return CDuiString(out);
  // Walk the components, fixing the case of those that do not exist as written.
  std::string built = out[0] == '/' ? "/" : "";
  size_t pos = out[0] == '/' ? 1 : 0;
  while (pos <= out.size()) {
    size_t next = out.find('/', pos);
    std::string part = out.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
    pos = next == std::string::npos ? out.size() + 1 : next + 1;
    if (part.empty()) continue;
    std::string candidate = built + part;
    if (part != "." && part != ".." && !fileExists(candidate) && !dirExists(candidate)) {
      std::string fixed = findNoCase(built.empty() ? "." : built, part);
      if (fixed.empty()) return CDuiString(out);  // missing: give the path as written
      candidate = built + fixed;
    }
    built = candidate;
    if (next != std::string::npos) built += '/';
  }
  return CDuiString(built);
}

void CPaintManagerUI::Init(HWND hWnd) {
  m_hWndPaint = hWnd;
  m_bFirstLayoutDone = false;
  m_bUpdateNeeded = true;
}

HDC CPaintManagerUI::GetPaintDC() const { return reinterpret_cast<HDC>(const_cast<CPaintManagerUI*>(this)); }

void CPaintManagerUI::SetInitSize(int cx, int cy) {
  m_szInitWindowSize = SIZE{cx, cy};
  if (m_hWndPaint && IsWindow(m_hWndPaint)) {
    SetWindowPos(m_hWndPaint, nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  NeedUpdate();
}

SIZE CPaintManagerUI::GetClientSize() const {
  RECT rc{0, 0, 0, 0};
  if (m_hWndPaint && GetClientRect(m_hWndPaint, &rc)) return SIZE{rc.right - rc.left, rc.bottom - rc.top};
  if (m_szInitWindowSize.cx > 0 && m_szInitWindowSize.cy > 0) return m_szInitWindowSize;
  return SIZE{800, 600};
}

CDuiString CPaintManagerUI::FindSkinFile(LPCTSTR file) const {
  if (!file || !*file) return CDuiString();
  std::string f = MapPath(file).str();
  if (!f.empty() && f[0] == '/') return fileExists(f) ? CDuiString(f) : CDuiString();
  std::string res = GetResourcePath().str();
  std::vector<std::string> folders;
  for (const CPaintManagerUI* pm = this; pm; pm = pm->m_pParentResourcePM) {
    if (pm->m_sSkinFolder.IsEmpty()) continue;
    std::string folder = MapPath(pm->m_sSkinFolder).str();
    if (!folder.empty() && folder.back() != '/') folder += '/';
    folders.push_back(folder[0] == '/' ? folder : res + folder);
    if (pm == pm->m_pParentResourcePM) break;
  }
  folders.push_back(res);
  folders.push_back(res + "skin/xml/");
  for (const auto& d : folders) {
    CDuiString p = MapPath((d + f).c_str());
    if (fileExists(p.str())) return p;
  }
  return CDuiString();
}

void CPaintManagerUI::AddDefaultAttributeList(LPCTSTR name, LPCTSTR list) {
  if (!name) return;
  m_DefaultAttrHash[name] = list ? list : "";
}

LPCTSTR CPaintManagerUI::GetDefaultAttributeList(LPCTSTR name) const {
  if (!name) return nullptr;
  auto it = m_DefaultAttrHash.find(name);
  if (it != m_DefaultAttrHash.end()) return it->second.c_str();
  if (m_pParentResourcePM && m_pParentResourcePM != this) return m_pParentResourcePM->GetDefaultAttributeList(name);
  return nullptr;
}

bool CPaintManagerUI::AttachDialog(CControlUI* pControl) {
  if (!pControl) return false;
  if (m_pRoot && m_pRoot != pControl) {
    CControlUI* old = m_pRoot;
    m_pRoot = nullptr;
    m_pFocus = m_pEventHover = m_pEventClick = nullptr;
    delete old;
  }
  m_pRoot = pControl;
  InitControls(pControl, nullptr);
  m_bUpdateNeeded = true;
  return true;
}

bool CPaintManagerUI::InitControls(CControlUI* pControl, CControlUI* pParent) {
  if (!pControl) return false;
  pControl->SetManager(this, pParent ? pParent : pControl->GetParent(), true);
  return true;
}

void CPaintManagerUI::ReapObjects(CControlUI* pControl) {
  if (m_pFocus == pControl) m_pFocus = nullptr;
  if (m_pEventHover == pControl) m_pEventHover = nullptr;
  if (m_pEventClick == pControl) m_pEventClick = nullptr;
  if (m_pRoot == pControl) m_pRoot = nullptr;
  KillTimer(pControl);
  ForgetName(pControl);
}

void CPaintManagerUI::RememberName(CControlUI* pControl) {
  if (!pControl || pControl->m_nNameKey != 0 || pControl->m_sName.IsEmpty()) return;
  NameSlot& slot = m_mNameHash[pControl->m_sName.str()];
  slot.controls.push_back(pControl);
  ++slot.live;
  pControl->m_nNameKey = slot.controls.size();
}

void CPaintManagerUI::ForgetName(CControlUI* pControl) {
  if (!pControl || pControl->m_nNameKey == 0) return;
  auto it = m_mNameHash.find(pControl->m_sName.str());
  size_t at = (size_t)pControl->m_nNameKey - 1;
  pControl->m_nNameKey = 0;
  if (it == m_mNameHash.end() || at >= it->second.controls.size() || it->second.controls[at] != pControl) return;
  NameSlot& slot = it->second;
  slot.controls[at] = nullptr;
  if (--slot.live == 0) {
    m_mNameHash.erase(it);
    return;
  }
  if (slot.controls.size() >= 64 && slot.live < slot.controls.size() / 4) {
    // Mostly holes: close them (the order stays).
    size_t out = 0;
    for (CControlUI* c : slot.controls) {
      if (!c) continue;
      slot.controls[out++] = c;
      c->m_nNameKey = out;
    }
    slot.controls.resize(out);
    slot.head = 0;
  }
}

void CPaintManagerUI::ForgetNames(CControlUI* pSubtree) {
  if (pSubtree) pSubtree->FindControl(forgetName, this, UIFIND_ALL);
}

CControlUI* CPaintManagerUI::FindControl(LPCTSTR pstrName) const {
  if (!m_pRoot || !pstrName) return nullptr;
  auto it = m_mNameHash.find(pstrName);
  if (it != m_mNameHash.end()) {
    NameSlot& slot = it->second;
    while (slot.head < slot.controls.size() && !slot.controls[slot.head]) ++slot.head;
    for (size_t i = slot.head; i < slot.controls.size(); ++i) {
      CControlUI* found = slot.controls[i];
      if (!found) continue;
      // Only a control of the window's tree (a row built but not yet added is not).
      for (CControlUI* c = found; c; c = c->GetParent())
        if (c == m_pRoot) return found;
    }
  }
  // Not kept here: a control of this tree that another manager has taken over for a while
  // (the items a sub-menu window shows) is still this tree's.
  return m_pRoot->FindControl(findByName, (LPVOID)pstrName, UIFIND_ALL | UIFIND_ME_FIRST);
}

CControlUI* CPaintManagerUI::FindControl(POINT pt) const {
  if (!m_pRoot) return nullptr;
  const_cast<CPaintManagerUI*>(this)->UpdateLayout();
  return m_pRoot->FindControl(findHit, &pt, UIFIND_VISIBLE | UIFIND_HITTEST | UIFIND_TOP_FIRST);
}

CControlUI* CPaintManagerUI::FindSubControlByName(CControlUI* pParent, LPCTSTR pstrName) const {
  if (!pParent) pParent = m_pRoot;
  if (!pParent || !pstrName) return nullptr;
  return pParent->FindControl(findByName, (LPVOID)pstrName, UIFIND_ALL | UIFIND_ME_FIRST);
}

bool CPaintManagerUI::AddNotifier(INotifyUI* p) {
  if (!p || std::find(m_aNotifiers.begin(), m_aNotifiers.end(), p) != m_aNotifiers.end()) return false;
  m_aNotifiers.push_back(p);
  return true;
}

bool CPaintManagerUI::RemoveNotifier(INotifyUI* p) {
  auto it = std::find(m_aNotifiers.begin(), m_aNotifiers.end(), p);
  if (it == m_aNotifiers.end()) return false;
  m_aNotifiers.erase(it);
  return true;
}

void CPaintManagerUI::SendNotify(CControlUI* pControl, LPCTSTR pstrMessage, WPARAM wParam, LPARAM lParam,
                                 bool bAsync) {
  TNotifyUI msg;
  msg.pSender = pControl;
  msg.sType = pstrMessage;
  msg.wParam = wParam;
  msg.lParam = lParam;
  SendNotify(msg, bAsync);
}

void CPaintManagerUI::SendNotify(TNotifyUI& Msg, bool) {
  Msg.dwTimestamp = GetTickCount();
  // A notifier may remove notifiers (a window closing): walk the list as it was, skipping the
  // ones removed meanwhile.
  std::vector<INotifyUI*> now = m_aNotifiers;
  for (INotifyUI* n : now) {
    if (std::find(m_aNotifiers.begin(), m_aNotifiers.end(), n) == m_aNotifiers.end()) continue;
    n->Notify(Msg);
  }
}

bool CPaintManagerUI::AddMessageFilter(IMessageFilterUI* p) {
  if (!p || std::find(m_aMessageFilters.begin(), m_aMessageFilters.end(), p) != m_aMessageFilters.end())
    return false;
  m_aMessageFilters.push_back(p);
  return true;
}

bool CPaintManagerUI::RemoveMessageFilter(IMessageFilterUI* p) {
  auto it = std::find(m_aMessageFilters.begin(), m_aMessageFilters.end(), p);
  if (it == m_aMessageFilters.end()) return false;
  m_aMessageFilters.erase(it);
  return true;
}

bool CPaintManagerUI::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
  if (!m_hWndPaint) return false;
  std::vector<IMessageFilterUI*> filters = m_aMessageFilters;
  for (IMessageFilterUI* f : filters) {
    if (std::find(m_aMessageFilters.begin(), m_aMessageFilters.end(), f) == m_aMessageFilters.end()) continue;
    bool handled = false;
    LRESULT r = f->MessageHandler(uMsg, wParam, lParam, handled);
    if (handled) {
      lRes = r;
      return true;
    }
  }
  POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  auto send = [&](CControlUI* c, int type) {
    if (!c) return;
    TEventUI ev;
    ev.Type = type;
    ev.pSender = c;
    ev.ptMouse = pt;
    ev.wParam = wParam;
    ev.lParam = lParam;
    ev.wKeyState = (WORD)wParam;
    ev.dwTimestamp = GetTickCount();
    c->Event(ev);
  };
  switch (uMsg) {
    case WM_PAINT:
      Paint();
      lRes = 0;
      return true;
    case WM_SIZE:
      NeedUpdate();
      return false;
    case WM_TIMER: {
      for (const auto& t : m_aTimers) {
        if (!t.key || t.key != (UINT_PTR)wParam) continue;
        TEventUI ev;
        ev.Type = UIEVENT_TIMER;
        ev.pSender = t.control;
        ev.wParam = t.id;
        ev.dwTimestamp = GetTickCount();
        CControlUI* c = t.control;  // the handler may change the timer list
        c->Event(ev);
        lRes = 0;
        return true;
      }
      return false;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      CControlUI* c = FindControl(pt);
      if (!c || !c->IsEnabled()) return false;
      m_pEventClick = c;
      c->SetFocus();
      send(m_pEventClick, uMsg == WM_LBUTTONDOWN ? UIEVENT_BUTTONDOWN : UIEVENT_DBLCLICK);
      return false;
    }
    case WM_LBUTTONUP: {
      CControlUI* c = m_pEventClick;
      m_pEventClick = nullptr;
      send(c, UIEVENT_BUTTONUP);
      return false;
    }
    case WM_RBUTTONDOWN: {
      CControlUI* c = FindControl(pt);
      if (!c || !c->IsEnabled()) return false;
      c->SetFocus();
      send(c, UIEVENT_RBUTTONDOWN);
      return false;
    }
    case WM_CONTEXTMENU: {
      POINT cp = pt;
      ScreenToClient(m_hWndPaint, &cp);
      CControlUI* c = FindControl(cp);
      pt = cp;
      send(c, UIEVENT_CONTEXTMENU);
      return false;
    }
    case WM_MOUSEMOVE: {
      CControlUI* c = FindControl(pt);
      if (c != m_pEventHover) {
        CControlUI* old = m_pEventHover;
        m_pEventHover = c;
        send(old, UIEVENT_MOUSELEAVE);
        send(c, UIEVENT_MOUSEENTER);
      }
      send(m_pEventClick ? m_pEventClick : c, UIEVENT_MOUSEMOVE);
      return false;
    }
    case WM_KEYDOWN: {
      if (!m_pFocus) return false;
      TEventUI ev;
      ev.Type = UIEVENT_KEYDOWN;
      ev.pSender = m_pFocus;
      ev.chKey = (TCHAR)wParam;
      ev.wParam = wParam;
      ev.lParam = lParam;
      m_pFocus->Event(ev);
      return false;
    }
    default:
      return false;
  }
}

void CPaintManagerUI::SetFocus(CControlUI* pControl) {
  if (pControl == m_pFocus) return;
  if (m_hWndPaint && IsWindow(m_hWndPaint) && ::GetFocus() != m_hWndPaint) ::SetFocus(m_hWndPaint);
  CControlUI* old = m_pFocus;
  m_pFocus = nullptr;
  if (old) {
    TEventUI ev;
    ev.Type = UIEVENT_KILLFOCUS;
    ev.pSender = pControl;
    old->Event(ev);
    SendNotify(old, DUI_MSGTYPE_KILLFOCUS);
  }
  if (pControl && pControl->GetManager() == this && pControl->IsVisible() && pControl->IsEnabled()) {
    m_pFocus = pControl;
    TEventUI ev;
    ev.Type = UIEVENT_SETFOCUS;
    ev.pSender = pControl;
    pControl->Event(ev);
    SendNotify(pControl, DUI_MSGTYPE_SETFOCUS);
  }
}

void CPaintManagerUI::SetCapture() {
  if (m_hWndPaint) ::SetCapture(m_hWndPaint);
}

void CPaintManagerUI::ReleaseCapture() {
  if (IsCaptured()) ::ReleaseCapture();
}

bool CPaintManagerUI::IsCaptured() const { return m_hWndPaint && ::GetCapture() == m_hWndPaint; }

void CPaintManagerUI::UpdateLayout() {
  if (!m_bUpdateNeeded || !m_pRoot || m_bInLayout) return;
  m_bInLayout = true;
  m_bUpdateNeeded = false;
  SIZE sz = GetClientSize();
  m_pRoot->SetPos(RECT{0, 0, sz.cx, sz.cy});
  m_bInLayout = false;
}

void CPaintManagerUI::Invalidate(RECT& rcItem) {
  ++m_nInvalidates;
  if (m_hWndPaint && IsWindow(m_hWndPaint)) ::InvalidateRect(m_hWndPaint, &rcItem, FALSE);
}

void CPaintManagerUI::Paint() {
  if (!m_pRoot) return;
  UpdateLayout();
  if (!m_bFirstLayoutDone) {
    m_bFirstLayoutDone = true;
    SendNotify(m_pRoot, DUI_MSGTYPE_WINDOWINIT);
    UpdateLayout();
    if (!m_pRoot) return;
  }
  SIZE sz = GetClientSize();
  RECT rc{0, 0, sz.cx, sz.cy};
  if (m_pRoot->IsVisible()) m_pRoot->DoPaint(GetPaintDC(), rc);
}

namespace {
std::atomic<bool> g_manualTimerClock{false};
}

void CPaintManagerUI::UseManualTimerClock(bool manual) { g_manualTimerClock = manual; }
bool CPaintManagerUI::IsManualTimerClock() { return g_manualTimerClock; }

bool CPaintManagerUI::RunsWin32Timers() const { return m_hWndPaint && !g_manualTimerClock; }

bool CPaintManagerUI::SetTimer(CControlUI* pControl, UINT nTimerID, UINT uElapse, LPCTSTR, void*) {
  if (!pControl) return false;
  for (auto& t : m_aTimers) {
    if (t.control == pControl && t.id == nTimerID) {
      t.interval = uElapse;
      t.due = m_clock + std::max<UINT>(uElapse, 1);
      if (t.key) ::SetTimer(m_hWndPaint, t.key, uElapse, nullptr);
      return true;
    }
  }
  UINT_PTR key = 0;
  if (RunsWin32Timers()) {
    key = m_nextTimerKey++;
    if (!::SetTimer(m_hWndPaint, key, uElapse, nullptr)) return false;
  }
  m_aTimers.push_back(Timer{pControl, nTimerID, uElapse, m_clock + std::max<UINT>(uElapse, 1), key});
  return true;
}

bool CPaintManagerUI::KillTimer(CControlUI* pControl, UINT nTimerID, bool) {
  for (auto it = m_aTimers.begin(); it != m_aTimers.end(); ++it) {
    if (it->control == pControl && it->id == nTimerID) {
      if (it->key) ::KillTimer(m_hWndPaint, it->key);
      m_aTimers.erase(it);
      return true;
    }
  }
  return false;
}

void CPaintManagerUI::KillTimer(CControlUI* pControl) {
  for (const auto& t : m_aTimers)
    if (t.control == pControl && t.key) ::KillTimer(m_hWndPaint, t.key);
  m_aTimers.erase(std::remove_if(m_aTimers.begin(), m_aTimers.end(),
                                 [&](const Timer& t) { return t.control == pControl; }),
                  m_aTimers.end());
}

void CPaintManagerUI::RemoveAllTimers() {
  for (const auto& t : m_aTimers)
    if (t.key) ::KillTimer(m_hWndPaint, t.key);
  m_aTimers.clear();
}

int CPaintManagerUI::GetTimerInterval(CControlUI* pControl, UINT nTimerID) const {
  for (const auto& t : m_aTimers)
    if (t.control == pControl && t.id == nTimerID) return (int)t.interval;
  return -1;
}

void CPaintManagerUI::AdvanceTimers(UINT ms) {
  uint64_t target = m_clock + ms;
  for (UINT n = 0; n < kMaxTimerEventsPerAdvance; ++n) {
    Timer* next = nullptr;
    for (auto& t : m_aTimers)
      if (t.due <= target && (!next || t.due < next->due)) next = &t;
    if (!next) break;
    m_clock = next->due;
    next->due += std::max<UINT>(next->interval, 1);
    TEventUI ev;
    ev.Type = UIEVENT_TIMER;
    ev.pSender = next->control;
    ev.wParam = next->id;
    ev.dwTimestamp = (DWORD)m_clock;
    CControlUI* c = next->control;  // the handler may change the timer list
    c->Event(ev);
  }
  m_clock = target;
}

}  // namespace DuiLib
