// A fresh folder under the system's temporary folder, removed with its
// content when the object goes.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pwdb-XXXXXX").string();
    char* made = mkdtemp(&pattern[0]);
    path_ = made != nullptr ? made : "";
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
