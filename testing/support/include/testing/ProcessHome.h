// The private home folder of a test process: a fresh folder under /tmp that PW_HOME points at,
// with an "AppData" folder inside it that APPDATA points at. Made once, before the first test
// touches a known folder, and removed when the process's tests are over.
// Thread rule: call from the process's main thread before tests start threads.
#pragma once

#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace pwtest {

// Makes /tmp/<prefix>XXXXXX and sets PW_HOME and APPDATA; returns the folder ("/tmp" when the
// folder could not be made).
inline std::string makeProcessHome(const std::string& prefix) {
  std::string tmpl = "/tmp/" + prefix + "XXXXXX";
  const char* dir = mkdtemp(&tmpl[0]);
  std::string home = dir ? dir : "/tmp";
  setenv("PW_HOME", home.c_str(), 1);
  std::string appData = home + "/AppData";
  mkdir(appData.c_str(), 0700);
  setenv("APPDATA", appData.c_str(), 1);
  return home;
}

// Removes a folder that makeProcessHome(prefix) made, with its content; anything else (such
// as "/tmp" itself) is left alone.
inline void removeProcessHome(const std::string& home, const std::string& prefix) {
  if (home.rfind("/tmp/" + prefix, 0) == 0) (void)!std::system(("rm -rf '" + home + "'").c_str());
}

}  // namespace pwtest
