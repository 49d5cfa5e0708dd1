// The hook library's debug output: one formatted line through OutputDebugStringA (the stand-in
// prints it as "[debug <process>] text" when W32SUBST_DEBUG=1). A line is cut at 511 bytes.
#pragma once

#include "win32/windows.h"

#include <cstdarg>
#include <cstdio>

namespace pwhook {

inline void debugf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
inline void debugf(const char* fmt, ...) {
  char line[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(line, sizeof line, fmt, args);
  va_end(args);
  OutputDebugStringA(line);
}

}  // namespace pwhook
