// The "HTML Format" clipboard text of inserted download links.
#include "bridge/PW_ClipboardHtml.h"

#include "util/CodingTransform.h"
#include "util/StringParser.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {
const char kOpening[] =
    "<div><br></div><div><span id=\"_FoxCURSOR\"></span><div style=\"font-family: verdana; "
    "font-size: 13px; line-height: 19px;\"><b>";
const char kClosing[] =
    "\"><span lang=\"en-us\" style=\"font-family: 宋体;\">下载</span></a></div></div>";
const char kHtmlStart[] = "<html><body>\r\n<!--StartFragment -->";
const char kTail[] = "<!--EndFragment-->\r\n</body>\r\n</html>";
const size_t kHeaderLength = 97;  // the five header lines with their eight-digit numbers

// GBK trail bytes are 0x40 and above, so these ASCII characters never sit inside one.
std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}
}  // namespace

std::string buildAttachmentHtml(const std::map<std::string, std::string>& links) {
  std::string html;
  for (const auto& entry : links) {
    std::vector<std::string> parts;
    StringParser::tokenize(entry.first, "?", parts);
    html += kOpening;
    if (parts.size() == 2)
      html += escape(parts[0]) + "&nbsp;&nbsp;(" + escape(parts[1]) + ")&nbsp;&nbsp;</b><a href=\"";
    else
      html += escape(entry.first) + "&nbsp;&nbsp;(未知)&nbsp;&nbsp;</b><a href=\"";
    html += escape(entry.second);
    html += kClosing;
  }
  return html;
}

std::string wrapClipboardHtml(const std::string& fragment) {
  const std::string utf8 = CodingTransform::gb2312_to_utf8(fragment);
  // The fragment region runs from just after the start comment to the end comment: it holds
  // the CR LF before and after the fragment's own bytes.
  const size_t startHtml = kHeaderLength;
  const size_t startFragment = startHtml + std::strlen(kHtmlStart);
  const size_t endFragment = startFragment + 2 + utf8.size() + 2;
  const size_t endHtml = endFragment + std::strlen(kTail);
  if (endHtml > 99999999u) return std::string();
  char header[kHeaderLength + 1];
  int n = std::snprintf(header, sizeof(header),
                        "Version:0.9\r\nStartHTML:%08u\r\nEndHTML:%08u\r\nStartFragment:%08u\r\n"
                        "EndFragment:%08u\r\n",
                        (unsigned)startHtml, (unsigned)endHtml, (unsigned)startFragment,
                        (unsigned)endFragment);
  std::string text(header, (size_t)n);
  text += kHtmlStart;
  text += "\r\n";
  text += utf8;
  text += "\r\n";
  text += kTail;
  return text;
}

bool putClipboardHtml(HWND owner, const std::string& wrapped) {
  if (wrapped.empty()) return false;
  UINT format = RegisterClipboardFormatA("HTML Format");
  if (!OpenClipboard(owner)) return false;
  bool done = false;
  if (EmptyClipboard()) {
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, wrapped.size() + 1);
    if (char* p = mem ? (char*)GlobalLock(mem) : nullptr) {
      std::memcpy(p, wrapped.c_str(), wrapped.size() + 1);
      GlobalUnlock(mem);
      done = SetClipboardData(format, mem) != nullptr;  // the clipboard now owns the memory
    }
    if (mem && !done) GlobalFree(mem);
  }
  CloseClipboard();
  return done;
}
