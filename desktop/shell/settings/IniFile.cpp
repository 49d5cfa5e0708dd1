#include "settings/IniFile.h"

#include "win32/profile.h"

namespace {
const DWORD kFirstValueBuffer = 255;
const DWORD kLargestValueBuffer = 65536;
const DWORD kSectionNamesBuffer = 2000;
}  // namespace

IniFile::IniFile() : lastResult_(0) {}

IniFile::~IniFile() {}

std::string IniFile::getString(const std::string& key, const std::string& section) {
  // A value cut at the buffer's end comes back one short of it; the read is
  // then repeated with a larger buffer, so that a long value (a remembered
  // password's Base64 text) is never handed out cut.
  std::vector<char> buf;
  for (DWORD size = kFirstValueBuffer;; size *= 2) {
    if (size > kLargestValueBuffer) size = kLargestValueBuffer;
    buf.assign(size, '\0');
    DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buf.data(), size, path_.c_str());
    lastResult_ = static_cast<int>(n);
    if (n + 1 < size || size == kLargestValueBuffer) return std::string(buf.data(), n);
  }
}

const std::vector<std::string>& IniFile::loadSectionNames() {
  sectionNames_.clear();
  std::vector<char> buf(kSectionNamesBuffer, '\0');
  DWORD n = GetPrivateProfileSectionNamesA(buf.data(), kSectionNamesBuffer, path_.c_str());
  lastResult_ = static_cast<int>(n);
  size_t start = 0;
  for (size_t i = 0; i < n; ++i) {
    if (buf[i] != '\0') continue;
    if (i > start) sectionNames_.emplace_back(buf.data() + start, i - start);
    start = i + 1;
  }
  if (n > start) sectionNames_.emplace_back(buf.data() + start, n - start);
  return sectionNames_;
}

bool IniFile::writeString(const std::string& section, const std::string& key, const std::string& value) {
  lastResult_ = WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path_.c_str());
  return lastResult_ != 0;
}
