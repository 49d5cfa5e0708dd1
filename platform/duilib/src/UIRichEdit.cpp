// The rich edit's selection, its detected links and the link notification. UI thread only.
#include "duilib/UIAutomation.h"
#include "duilib/UICommonControls.h"
#include "duilib/UIManager.h"

#include <cstring>

namespace DuiLib {

namespace {

bool leadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Byte offset of each character of a GBK text, plus the end.
std::vector<size_t> characterStarts(const std::string& text) {
  std::vector<size_t> starts;
  size_t i = 0;
  while (i < text.size()) {
    starts.push_back(i);
    i += (leadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
  }
  starts.push_back(text.size());
  return starts;
}

bool startsWithAt(const std::string& text, size_t at, const char* prefix) {
  size_t n = std::strlen(prefix);
  if (at + n > text.size()) return false;
  for (size_t k = 0; k < n; ++k)
    if (std::tolower(static_cast<unsigned char>(text[at + k])) != prefix[k]) return false;
  return true;
}

LONG clampTo(LONG value, LONG count) { return value < 0 || value > count ? count : value; }

}  // namespace

void CRichEditUI::SetAttribute(LPCTSTR n, LPCTSTR v) {
  if (n && std::strcmp(n, "autourl") == 0)
    SetAutoURLDetect(ParseBool(v));
  else
    CEditUI::SetAttribute(n, v);
}

void CRichEditUI::SetSel(CHARRANGE& cr) {
  LONG count = static_cast<LONG>(characterStarts(GetText().str()).size()) - 1;
  m_chrg.cpMin = clampTo(cr.cpMin, count);
  m_chrg.cpMax = clampTo(cr.cpMax, count);
  if (m_chrg.cpMax < m_chrg.cpMin) std::swap(m_chrg.cpMin, m_chrg.cpMax);
}

void CRichEditUI::GetSel(CHARRANGE& cr) const { cr = m_chrg; }

CDuiString CRichEditUI::GetSelText() const {
  std::string text = GetText().str();
  std::vector<size_t> starts = characterStarts(text);
  LONG count = static_cast<LONG>(starts.size()) - 1;
  LONG from = clampTo(m_chrg.cpMin, count), to = clampTo(m_chrg.cpMax, count);
  if (to <= from) return CDuiString();
  return CDuiString(text.substr(starts[from], starts[to] - starts[from]));
}

std::vector<CHARRANGE> CRichEditUI::GetLinks() const {
  std::vector<CHARRANGE> links;
  if (!m_bAutoURL) return links;
  std::string text = GetText().str();
  std::vector<size_t> starts = characterStarts(text);
  for (size_t c = 0; c + 1 < starts.size(); ++c) {
    size_t at = starts[c];
    if (!startsWithAt(text, at, "http://") && !startsWithAt(text, at, "https://") && !startsWithAt(text, at, "www."))
      continue;
    size_t end = c;
    while (end + 1 < starts.size()) {
      unsigned char b = static_cast<unsigned char>(text[starts[end]]);
      if (b <= 0x20 || b == 0x7f || leadByte(b)) break;
      ++end;
    }
    links.push_back(CHARRANGE{static_cast<LONG>(c), static_cast<LONG>(end)});
    c = end;
  }
  return links;
}

namespace Automation {

bool ClickLink(CControlUI* ctrl, int index) {
  CRichEditUI* edit = ctrl ? static_cast<CRichEditUI*>(ctrl->GetInterface("RichEdit")) : nullptr;
  if (!edit || !edit->IsVisible() || !edit->IsEnabled() || !(edit->GetEventMask() & ENM_LINK)) return false;
  std::vector<CHARRANGE> links = edit->GetLinks();
  if (index < 0 || index >= static_cast<int>(links.size()) || !edit->GetManager()) return false;
  HWND window = edit->GetManager()->GetPaintWindow();
  // As every automated click: nothing reaches a hidden window or one a modal dialog disabled.
  HWND root = window ? GetAncestor(window, GA_ROOT) : nullptr;
  if (root && (!IsWindowEnabled(root) || !IsWindowVisible(root))) return false;
  const UINT events[] = {WM_LBUTTONDOWN, WM_LBUTTONUP};
  for (UINT event : events) {
    ENLINK link;
    std::memset(&link, 0, sizeof(link));
    link.nmhdr.hwndFrom = window;
    link.nmhdr.idFrom = 0;
    link.nmhdr.code = EN_LINK;
    link.msg = event;
    link.chrg = links[static_cast<size_t>(index)];
    ::SendMessageA(window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&link));
  }
  return true;
}

}  // namespace Automation
}  // namespace DuiLib
