// Data and scratch space the measurements make for themselves. Everything here runs on the
// benchmark's own thread, before or between timed regions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace pwbench {

// The block length of a net-disk upload.
const int64_t UPLOAD_BLOCK = 0x80000;

// A fresh folder under the system's temporary folder, removed with its content when the
// object goes; path() is "" when it could not be made.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& path() const { return path_; }

 private:
  TempFolder(const TempFolder&);
  TempFolder& operator=(const TempFolder&);
  std::string path_;
};

// `n` reproducible pseudo-random bytes.
std::string patternBytes(std::size_t n, unsigned seed);

// Writes `bytes` to `path`; false on failure.
bool writeFile(const std::string& path, const std::string& bytes);

// A UTF-8 text of exactly `bytes` bytes or a little less (never a cut character): address-book
// lines of Chinese names, departments, addresses and ASCII punctuation.
std::string chineseText(std::size_t bytes);

// A UTF-8 Chinese display name for number `i` (two or three characters).
std::string chineseName(int i);

// A UTF-8 resource-lists (buddy) document with `entries` entries: an "organization" list of
// 20 department lists (each with its display name) holding most entries, a few entries
// directly under "organization", and a "mybuddys" list; every entry has a Chinese display name,
// a nickname, a signature and a gender.
std::string resourceListsDocument(int entries);

// MD5 (32 lower-case hex digits) of the next `count` bytes of the file, as the net-disk upload
// task computes it for each block (the task's own FileMd5 when the client is part of the build).
std::string blockMd5(FILE* file, int64_t count);

// True when blockMd5 is the net-disk client's FileMd5.
bool blockMd5IsClients();

}  // namespace pwbench
