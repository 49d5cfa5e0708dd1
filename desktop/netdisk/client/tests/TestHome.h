// A home folder of its own for a test (PW_HOME), removed with its content; write() puts a
// file in it.
#pragma once

#include "testing/TempHome.h"

#include <fstream>
#include <string>

class TestHome : public pwtest::TempHome {
 public:
  // Writes a file under the home folder; returns its full path.
  std::string write(const std::string& name, const std::string& bytes) const {
    std::string full = path() + "/" + name;
    std::ofstream out(full, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return full;
  }
};
