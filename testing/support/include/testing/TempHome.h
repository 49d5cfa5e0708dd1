// A fresh temporary folder that PW_HOME points at while the object lives: a test's own home
// folder (documents and application data under it), removed with its content at the end.
// Thread rule: make and drop it on the test's main thread, while no other thread reads PW_HOME.
#pragma once

#include "testing/TempFolder.h"

#include <cstdlib>
#include <string>

namespace pwtest {

class TempHome : public TempFolder {
 public:
  TempHome() { setenv("PW_HOME", path().c_str(), 1); }
  ~TempHome() { unsetenv("PW_HOME"); }  // then the folder goes
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;
};

}  // namespace pwtest
