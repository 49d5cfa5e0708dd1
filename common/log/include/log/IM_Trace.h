// A trace scope: logs "enter <name>" and "leave <name>" at debug priority.
#pragma once

#include <string>

class IM_Trace {
 public:
  IM_Trace(const char* name, const char* file, int line);
  ~IM_Trace();
  IM_Trace(const IM_Trace&) = delete;
  IM_Trace& operator=(const IM_Trace&) = delete;

 private:
  std::string name_;
  const char* file_;
  int line_;
};

#define IM_TRACE_CAT2(a, b) a##b
#define IM_TRACE_CAT(a, b) IM_TRACE_CAT2(a, b)
#define IM_TRACE(name) IM_Trace IM_TRACE_CAT(im_trace_, __LINE__)(name, __FILE__, __LINE__)
