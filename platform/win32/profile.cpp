// Profile files, known folders and directory creation over the POSIX file
// system. See win32/profile.h for what each call promises.
#include "win32/profile.h"

#include <fcntl.h>
#include <iconv.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

struct _ITEMIDLIST {
  std::string path;  // GBK
};

namespace {

// Serialises every profile read and write of the process.
std::mutex& profileMutex() {
  static std::mutex m;
  return m;
}

bool isAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

bool convert(const char* to, const char* from, const std::string& in, std::string& out) {
  if (isAscii(in)) {
    out = in;
    return true;
  }
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return false;
  std::string result(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = &result[0];
  size_t dstLeft = result.size();
  size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  if (rc == (size_t)-1 || srcLeft != 0) return false;
  result.resize(result.size() - dstLeft);
  out.swap(result);
  return true;
}

// An ANSI (GBK) path as the file system spells it: UTF-8, "/" separators.
// The separators are swapped after decoding, where a 0x5C byte can only be "\".
bool fsPath(LPCSTR ansi, std::string& out) {
  if (ansi == nullptr || *ansi == '\0') return false;
  if (!convert("UTF-8", "GBK", ansi, out)) return false;
  for (char& c : out)
    if (c == '\\') c = '/';
  return true;
}

std::string homeFolder() {
  const char* pw = getenv("PW_HOME");
  if (pw != nullptr && *pw != '\0') return pw;
  const char* home = getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  struct passwd entry;
  struct passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr)
    return found->pw_dir;
  return std::string();
}

// mkdir -p, each new level mode 0700.
bool makeFolders(const std::string& path) {
  std::string partial;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    partial = path.substr(0, next);
    if (!partial.empty()) {
      struct stat st;
      if (stat(partial.c_str(), &st) != 0) {
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
      } else if (!S_ISDIR(st.st_mode)) {
        return false;
      }
    }
    pos = next + 1;
  }
  return true;
}

// ---- INI text ------------------------------------------------------------

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return s.substr(b, e - b);
}

bool sameName(const std::string& a, const char* b) {
  size_t n = strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = a[i], y = b[i];
    if (x < 0x80 && y < 0x80) {
      if (tolower(x) != tolower(y)) return false;
    } else if (x != y) {
      return false;
    }
  }
  return true;
}

// One line of the file, classified once.
struct IniLine {
  std::string raw;      // without the line end
  bool header = false;  // "[name]"
  bool entry = false;   // "key=value"
  std::string name;     // section name or key, trimmed
  std::string value;    // entry value, trimmed and unquoted
};

IniLine classify(const std::string& raw) {
  IniLine line;
  line.raw = raw;
  std::string t = trim(raw);
  if (!t.empty() && t[0] == '[') {
    size_t close = t.find(']');
    line.header = true;
    line.name = trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return line;
  }
  if (t.empty() || t[0] == ';') return line;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return line;
  line.entry = true;
  line.name = trim(t.substr(0, eq));
  std::string v = trim(t.substr(eq + 1));
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
  line.value = v;
  return line;
}

// Reads the file's lines; a missing file is empty. False on any other error.
bool loadIni(const std::string& path, std::vector<IniLine>& lines) {
  lines.clear();
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return errno == ENOENT;
  std::string text;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
  bool ok = !ferror(f);
  fclose(f);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string raw = text.substr(pos, end - pos);
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    lines.push_back(classify(raw));
    pos = end + 1;
  }
  return ok;
}

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Replaces the file by writing a sibling and renaming it over the original.
bool saveIni(const std::string& path, const std::vector<IniLine>& lines) {
  std::string text;
  for (const IniLine& line : lines) {
    text += line.raw;
    text += "\r\n";
  }
  mode_t mode = 0600;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  std::string tmp = path + ".pwtmp" + std::to_string(getpid());
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = writeAll(fd, text) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (ok && rename(tmp.c_str(), path.c_str()) == 0) return true;
  unlink(tmp.c_str());
  return false;
}

// Index of the header line of section, or -1.
long findSection(const std::vector<IniLine>& lines, const char* section) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].header && sameName(lines[i].name, section)) return static_cast<long>(i);
  return -1;
}

// One past the last line of the section that starts at header.
size_t sectionEnd(const std::vector<IniLine>& lines, size_t header) {
  size_t i = header + 1;
  while (i < lines.size() && !lines[i].header) ++i;
  return i;
}

long findKey(const std::vector<IniLine>& lines, size_t header, const char* key) {
  size_t end = sectionEnd(lines, header);
  for (size_t i = header + 1; i < end; ++i)
    if (lines[i].entry && sameName(lines[i].name, key)) return static_cast<long>(i);
  return -1;
}

// Copies a value; returns the count as the profile calls report it.
DWORD copyValue(const std::string& value, LPSTR buf, DWORD size) {
  if (value.size() < size) {
    memcpy(buf, value.data(), value.size());
    buf[value.size()] = '\0';
    return static_cast<DWORD>(value.size());
  }
  memcpy(buf, value.data(), size - 1);
  buf[size - 1] = '\0';
  return size - 1;
}

// Copies a NUL-separated list ended by a second NUL.
DWORD copyList(const std::vector<std::string>& names, LPSTR buf, DWORD size) {
  std::string all;
  for (const std::string& n : names) {
    all += n;
    all += '\0';
  }
  if (all.size() + 1 <= size) {
    memcpy(buf, all.data(), all.size());
    buf[all.size()] = '\0';
    if (all.empty() && size > 1) buf[1] = '\0';
    return static_cast<DWORD>(all.size());
  }
  if (size == 1) {
    buf[0] = '\0';
    return 0;
  }
  memcpy(buf, all.data(), size - 2);
  buf[size - 2] = '\0';
  buf[size - 1] = '\0';
  return size - 2;
}

bool hasLineBreak(LPCSTR s) { return s != nullptr && strpbrk(s, "\r\n") != nullptr; }

const char* folderBelowHome(int folder) {
  switch (folder & ~CSIDL_FLAG_CREATE) {
    case CSIDL_PERSONAL: return "/Documents";
    case CSIDL_APPDATA: return "/.config";
    case CSIDL_LOCAL_APPDATA: return "/.local/share";
    default: return nullptr;
  }
}

}  // namespace

extern "C" {

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR buf, DWORD size,
                               LPCSTR file) {
  if (buf == nullptr || size == 0) return 0;
  std::string path;
  std::vector<IniLine> lines;
  {
    std::lock_guard<std::mutex> lock(profileMutex());
    if (!fsPath(file, path) || !loadIni(path, lines)) lines.clear();
  }
  if (section == nullptr) {
    std::vector<std::string> names;
    for (const IniLine& line : lines)
      if (line.header && !line.name.empty()) names.push_back(line.name);
    return copyList(names, buf, size);
  }
  long header = findSection(lines, section);
  if (key == nullptr) {
    std::vector<std::string> names;
    if (header >= 0) {
      size_t end = sectionEnd(lines, header);
      for (size_t i = header + 1; i < end; ++i)
        if (lines[i].entry) names.push_back(lines[i].name);
    }
    return copyList(names, buf, size);
  }
  if (header >= 0) {
    long at = findKey(lines, header, key);
    if (at >= 0) return copyValue(lines[at].value, buf, size);
  }
  std::string fallback = def != nullptr ? def : "";
  while (!fallback.empty() && (fallback.back() == ' ' || fallback.back() == '\t')) fallback.pop_back();
  return copyValue(fallback, buf, size);
}

DWORD GetPrivateProfileSectionNamesA(LPSTR buf, DWORD size, LPCSTR file) {
  return GetPrivateProfileStringA(nullptr, nullptr, nullptr, buf, size, file);
}

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT def, LPCSTR file) {
  if (section == nullptr || key == nullptr) return static_cast<UINT>(def);
  char buf[64];
  GetPrivateProfileStringA(section, key, "", buf, sizeof buf, file);
  const char* p = buf;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = (*p++ == '-');
  if (*p < '0' || *p > '9') return static_cast<UINT>(def);
  long long v = 0;
  while (*p >= '0' && *p <= '9' && v < 0x100000000LL) v = v * 10 + (*p++ - '0');
  return static_cast<UINT>(negative ? -v : v);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  // A line break inside a name or value would write lines of its own.
  if (section == nullptr || hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value))
    return FALSE;
  std::string path;
  if (!fsPath(file, path)) return FALSE;
  std::lock_guard<std::mutex> lock(profileMutex());
  std::vector<IniLine> lines;
  if (!loadIni(path, lines)) return FALSE;
  long header = findSection(lines, section);
  if (key == nullptr) {
    if (header >= 0) lines.erase(lines.begin() + header, lines.begin() + sectionEnd(lines, header));
    return saveIni(path, lines) ? TRUE : FALSE;
  }
  if (header < 0) {
    if (value == nullptr) return TRUE;
    lines.push_back(classify(std::string("[") + section + "]"));
    header = static_cast<long>(lines.size()) - 1;
  }
  long at = findKey(lines, header, key);
  if (value == nullptr) {
    if (at >= 0) lines.erase(lines.begin() + at);
  } else if (at >= 0) {
    lines[at] = classify(std::string(key) + "=" + value);
  } else {
    // After the section's last non-blank line.
    size_t insertAt = sectionEnd(lines, header);
    while (insertAt > static_cast<size_t>(header) + 1 && trim(lines[insertAt - 1].raw).empty()) --insertAt;
    lines.insert(lines.begin() + insertAt, classify(std::string(key) + "=" + value));
  }
  return saveIni(path, lines) ? TRUE : FALSE;
}

BOOL CreateDirectoryA(LPCSTR path, struct _SECURITY_ATTRIBUTES*) {
  std::string fs;
  if (!fsPath(path, fs)) return FALSE;
  while (fs.size() > 1 && fs.back() == '/') fs.pop_back();
  return mkdir(fs.c_str(), 0700) == 0 ? TRUE : FALSE;
}

DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
  std::string fs;
  struct stat st;
  if (!fsPath(longPath, fs) || stat(fs.c_str(), &st) != 0) return 0;
  size_t len = strlen(longPath);
  if (shortPath == nullptr || len + 1 > size) return static_cast<DWORD>(len + 1);
  memmove(shortPath, longPath, len + 1);
  return static_cast<DWORD>(len);
}

HRESULT SHGetSpecialFolderLocation(HWND, int folder, LPITEMIDLIST* list) {
  const HRESULT kFail = static_cast<HRESULT>(0x80004005u);
  if (list == nullptr) return kFail;
  *list = nullptr;
  const char* below = folderBelowHome(folder);
  std::string home = homeFolder();
  if (below == nullptr || home.empty()) return kFail;
  std::string utf8 = home + below;
  std::string ansi;
  if (!makeFolders(utf8) || !convert("GBK", "UTF-8", utf8, ansi)) return kFail;
  *list = new ITEMIDLIST{ansi};
  return 0;
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path) {
  if (path == nullptr) return FALSE;
  path[0] = '\0';
  if (list == nullptr || list->path.size() + 1 > MAX_PATH) return FALSE;
  memcpy(path, list->path.c_str(), list->path.size() + 1);
  return TRUE;
}

BOOL SHGetSpecialFolderPathA(HWND owner, LPSTR path, int folder, BOOL create) {
  LPITEMIDLIST list = nullptr;
  if (SHGetSpecialFolderLocation(owner, folder | (create ? CSIDL_FLAG_CREATE : 0), &list) != 0)
    return FALSE;
  BOOL ok = SHGetPathFromIDListA(list, path);
  ILFree(list);
  return ok;
}

void ILFree(LPITEMIDLIST list) { delete list; }

}  // extern "C"
