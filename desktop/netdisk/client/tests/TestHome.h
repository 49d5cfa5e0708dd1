// A home folder of its own for a test (PW_HOME), removed with its content.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TestHome {
 public:
  TestHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pwnd-XXXXXX").string();
    char* made = mkdtemp(&pattern[0]);
    path_ = made != nullptr ? made : "";
    setenv("PW_HOME", path_.c_str(), 1);
  }
  ~TestHome() {
    unsetenv("PW_HOME");
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

  // Writes a file under the home folder; returns its full path.
  std::string write(const std::string& name, const std::string& bytes) const {
    std::string full = path_ + "/" + name;
    std::ofstream out(full, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return full;
  }

 private:
  std::string path_;
};
