// The scripted system dialogs (see CommonDialogs.h).
#include "dialog/CommonDialogs.h"

#include <cstring>
#include <mutex>

namespace pwsys {
namespace {

struct State {
  std::mutex mutex;
  OpenFileAnswer answer{true, "", {}};
  DWORD lastError = 0;  // of the last open-file dialog (the platform keeps it per thread)
  std::vector<OpenFileRequest> requests;
  std::vector<MessageBoxShown> boxes;
};

State& state() {
  static State s;
  return s;
}

// The filter pairs as one text with their NULs, up to and without the closing empty text.
std::string filterText(LPCSTR filter) {
  std::string out;
  if (filter == nullptr) return out;
  const char* p = filter;
  while (*p != '\0') {
    size_t n = std::strlen(p);
    out.append(p, n + 1);
    p += n + 1;
  }
  return out;
}

}  // namespace

BOOL GetOpenFileNameA(OPENFILENAMEA* ofn) {
  State& s = state();
  OpenFileAnswer answer;
  {
    std::lock_guard<std::mutex> g(s.mutex);
    OpenFileRequest r;
    if (ofn != nullptr) {
      r.owner = ofn->hwndOwner;
      r.filter = filterText(ofn->lpstrFilter);
      r.flags = ofn->Flags;
      r.maxFile = ofn->nMaxFile;
    }
    s.requests.push_back(r);
    answer = s.answer;
    s.lastError = 0;
  }
  if (ofn == nullptr || ofn->lpstrFile == nullptr || answer.cancel || answer.names.empty()) return FALSE;
  std::string out;
  WORD offset = 0;
  bool several = answer.names.size() > 1 && (ofn->Flags & OFN_ALLOWMULTISELECT) != 0;
  if (several) {
    out = answer.folder;
    out.push_back('\0');
    offset = static_cast<WORD>(out.size());
    for (const std::string& n : answer.names) {
      out += n;
      out.push_back('\0');
    }
  } else {
    out = answer.folder + PW_PATH_SEPARATOR;
    offset = static_cast<WORD>(out.size());
    out += answer.names.front();
  }
  out.push_back('\0');
  if (out.size() > ofn->nMaxFile || out.size() > 0xFFFF) {
    std::lock_guard<std::mutex> g(s.mutex);
    s.lastError = FNERR_BUFFERTOOSMALL;
    return FALSE;
  }
  std::memcpy(ofn->lpstrFile, out.data(), out.size());
  ofn->nFileOffset = offset;
  return TRUE;
}

DWORD CommDlgExtendedError() {
  std::lock_guard<std::mutex> g(state().mutex);
  return state().lastError;
}

int MessageBoxA(HWND hWnd, LPCSTR text, LPCSTR caption, UINT type) {
  std::lock_guard<std::mutex> g(state().mutex);
  MessageBoxShown b;
  b.owner = hWnd;
  b.text = text ? text : "";
  b.caption = caption ? caption : "";
  b.type = type;
  state().boxes.push_back(b);
  return IDOK_ANSWER;
}

void setOpenFileAnswer(const OpenFileAnswer& answer) {
  std::lock_guard<std::mutex> g(state().mutex);
  state().answer = answer;
}

std::vector<OpenFileRequest> openFileRequests() {
  std::lock_guard<std::mutex> g(state().mutex);
  return state().requests;
}

std::vector<MessageBoxShown> messageBoxes() {
  std::lock_guard<std::mutex> g(state().mutex);
  return state().boxes;
}

void resetCommonDialogs() {
  std::lock_guard<std::mutex> g(state().mutex);
  State& s = state();
  s.answer = OpenFileAnswer();
  s.answer.cancel = true;
  s.lastError = 0;
  s.requests.clear();
  s.boxes.clear();
}

}  // namespace pwsys
