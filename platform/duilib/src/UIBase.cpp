// Text, rectangles and delegates.
#include "duilib/UIBase.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace DuiLib {

CDuiString::CDuiString(const char* s, int len) { Assign(s, len); }

void CDuiString::Assign(LPCTSTR s, int len) {
  if (!s) {
    s_.clear();
    return;
  }
  if (len < 0) {
    s_ = s;
  } else {
    size_t n = strnlen(s, (size_t)len);
    s_.assign(s, n);
  }
}

int CDuiString::Compare(LPCTSTR s) const { return strcmp(s_.c_str(), s ? s : ""); }

namespace {
int lowerAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }
}  // namespace

int CDuiString::CompareNoCase(LPCTSTR s) const {
  const unsigned char* a = (const unsigned char*)s_.c_str();
  const unsigned char* b = (const unsigned char*)(s ? s : "");
  while (*a || *b) {
    int d = lowerAscii(*a) - lowerAscii(*b);
    if (d) return d < 0 ? -1 : 1;
    ++a, ++b;
  }
  return 0;
}

void CDuiString::MakeUpper() {
  for (auto& c : s_)
    if (c >= 'a' && c <= 'z') c = (char)(c - 32);
}

void CDuiString::MakeLower() {
  for (auto& c : s_)
    if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
}

CDuiString CDuiString::Left(int n) const {
  n = std::max(0, std::min(n, GetLength()));
  return CDuiString(s_.substr(0, (size_t)n));
}

CDuiString CDuiString::Mid(int pos, int n) const {
  if (pos < 0) pos = 0;
  if (pos >= GetLength()) return CDuiString();
  if (n < 0 || pos + n > GetLength()) n = GetLength() - pos;
  return CDuiString(s_.substr((size_t)pos, (size_t)n));
}

CDuiString CDuiString::Right(int n) const {
  n = std::max(0, std::min(n, GetLength()));
  return CDuiString(s_.substr(s_.size() - (size_t)n));
}

int CDuiString::Find(TCHAR c, int pos) const {
  if (pos < 0 || pos > GetLength()) return -1;
  size_t r = s_.find(c, (size_t)pos);
  return r == std::string::npos ? -1 : (int)r;
}

int CDuiString::Find(LPCTSTR s, int pos) const {
  if (!s || pos < 0 || pos > GetLength()) return -1;
  size_t r = s_.find(s, (size_t)pos);
  return r == std::string::npos ? -1 : (int)r;
}

int CDuiString::Replace(LPCTSTR from, LPCTSTR to) {
  if (!from || !*from) return 0;
  std::string f(from), t(to ? to : "");
  int n = 0;
  for (size_t p = s_.find(f); p != std::string::npos; p = s_.find(f, p + t.size())) {
    s_.replace(p, f.size(), t);
    ++n;
  }
  return n;
}

int CDuiString::Format(LPCTSTR fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = FormatV(fmt, ap);
  va_end(ap);
  return n;
}

int CDuiString::FormatV(LPCTSTR fmt, va_list ap) {
  if (!fmt) {
    s_.clear();
    return 0;
  }
  va_list copy;
  va_copy(copy, ap);
  int n = vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n < 0) {
    s_.clear();
    return 0;
  }
  std::string out((size_t)n + 1, '\0');
  vsnprintf(&out[0], out.size(), fmt, ap);
  out.resize((size_t)n);
  s_.swap(out);
  return n;
}

BOOL IntersectRect(LPRECT out, const RECT* a, const RECT* b) {
  RECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
         std::min(a->bottom, b->bottom)};
  bool emptyA = a->left >= a->right || a->top >= a->bottom;
  bool emptyB = b->left >= b->right || b->top >= b->bottom;
  if (emptyA || emptyB || r.left >= r.right || r.top >= r.bottom) {
    if (out) *out = RECT{0, 0, 0, 0};
    return FALSE;
  }
  if (out) *out = r;
  return TRUE;
}

BOOL UnionRect(LPRECT out, const RECT* a, const RECT* b) {
  bool emptyA = a->left >= a->right || a->top >= a->bottom;
  bool emptyB = b->left >= b->right || b->top >= b->bottom;
  if (emptyA && emptyB) {
    *out = RECT{0, 0, 0, 0};
    return FALSE;
  }
  if (emptyA) {
    *out = *b;
  } else if (emptyB) {
    *out = *a;
  } else {
    *out = RECT{std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
                std::max(a->bottom, b->bottom)};
  }
  return TRUE;
}

bool RectContains(const RECT& rc, POINT pt) {
  return pt.x >= rc.left && pt.x < rc.right && pt.y >= rc.top && pt.y < rc.bottom;
}

namespace {
std::mutex g_monitorLock;  // guards g_work, g_hasWork
RECT g_work{0, 0, 0, 0};
bool g_hasWork = false;
}  // namespace

HMONITOR MonitorFromWindow(HWND, DWORD) { return reinterpret_cast<HMONITOR>(1); }

BOOL GetMonitorInfo(HMONITOR hMonitor, MONITORINFO* lpmi) {
  if (!hMonitor || !lpmi) return FALSE;
  lpmi->rcMonitor = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  std::lock_guard<std::mutex> g(g_monitorLock);
  lpmi->rcWork = g_hasWork ? g_work : lpmi->rcMonitor;
  lpmi->dwFlags = 1;  // primary
  return TRUE;
}

void SetMonitorWorkArea(const RECT* rcWork) {
  std::lock_guard<std::mutex> g(g_monitorLock);
  g_hasWork = rcWork != nullptr;
  if (rcWork) g_work = *rcWork;
}

CEventSource::~CEventSource() {
  for (auto* d : delegates_) delete d;
}

void CEventSource::operator+=(const CDelegateBase& d) {
  for (auto* x : delegates_)
    if (x->Equals(d)) return;
  delegates_.push_back(d.Copy());
}

void CEventSource::operator-=(const CDelegateBase& d) {
  for (auto it = delegates_.begin(); it != delegates_.end(); ++it) {
    if ((*it)->Equals(d)) {
      delete *it;
      delegates_.erase(it);
      return;
    }
  }
}

bool CEventSource::operator()(void* param) {
  // A delegate may add or remove delegates: walk a copy of the list as it was.
  std::vector<CDelegateBase*> now = delegates_;
  for (auto* d : now) {
    if (std::find(delegates_.begin(), delegates_.end(), d) == delegates_.end()) continue;
    if (!d->Invoke(param)) return false;
  }
  return true;
}

}  // namespace DuiLib
