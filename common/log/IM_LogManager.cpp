#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

ACE_Log_Priority levelFromEnv() {
  const char* v = std::getenv("PW_LOG_LEVEL");
  if (!v) return LM_INFO;
  if (!strcasecmp(v, "debug")) return LM_DEBUG;
  if (!strcasecmp(v, "warning")) return LM_WARNING;
  if (!strcasecmp(v, "error")) return LM_ERROR;
  return LM_INFO;
}

// Rank of an ACE priority, so that levels compare (ACE's values are bit flags).
int rank(ACE_Log_Priority p) {
  switch (p) {
    case LM_TRACE: return 0;
    case LM_DEBUG: return 1;
    case LM_INFO: return 2;
    case LM_NOTICE: return 3;
    case LM_WARNING: return 4;
    case LM_ERROR: return 5;
    default: return 6;
  }
}

const char* baseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

thread_local bool threadStreamReady = false;

}  // namespace

IM_LogManager* IM_LogManager::instance() {
  static IM_LogManager manager;
  return &manager;
}

IM_LogManager::IM_LogManager() : level_(levelFromEnv()) {}

void IM_LogManager::setLevel(ACE_Log_Priority level) { __atomic_store_n(&level_, level, __ATOMIC_RELAXED); }

ACE_Log_Priority IM_LogManager::level() const {
  return static_cast<ACE_Log_Priority>(__atomic_load_n(&level_, __ATOMIC_RELAXED));
}

bool IM_LogManager::enabled(ACE_Log_Priority priority) const { return rank(priority) >= rank(level()); }

std::string IM_LogManager::logFormat(const char* fmt, ...) {
  char stackBuf[512];
  va_list ap;
  va_start(ap, fmt);
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(stackBuf, sizeof stackBuf, fmt, ap);
  va_end(ap);
  std::string out;
  if (n < 0) {
    out = fmt;
  } else if (static_cast<size_t>(n) < sizeof stackBuf) {
    out.assign(stackBuf, n);
  } else {
    out.resize(n + 1);
    std::vsnprintf(&out[0], n + 1, fmt, copy);
    out.resize(n);
  }
  va_end(copy);
  return out;
}

void IM_LogManager::write(ACE_Log_Priority priority, const char* file, int line, const std::string& text) {
  if (!threadStreamReady) {
    // A thread ACE did not create gets its log stream set up on first use.
    ACE_LOG_MSG->set_flags(ACE_Log_Msg::STDERR);
    threadStreamReady = true;
  }
  ACE_LOG_MSG->log(priority, ACE_TEXT("(%t) [%s:%d] %s\n"), baseName(file), line, text.c_str());
  std::vector<std::pair<int, Sink>> sinks;
  {
    std::lock_guard<std::mutex> g(sinksMutex_);
    sinks = sinks_;
  }
  for (auto& s : sinks) s.second(priority, text);
}

int IM_LogManager::addSink(Sink sink) {
  std::lock_guard<std::mutex> g(sinksMutex_);
  int id = nextSinkId_++;
  sinks_.emplace_back(id, std::move(sink));
  return id;
}

void IM_LogManager::removeSink(int id) {
  std::lock_guard<std::mutex> g(sinksMutex_);
  sinks_.erase(std::remove_if(sinks_.begin(), sinks_.end(), [id](auto& s) { return s.first == id; }),
               sinks_.end());
}

IM_LogCapture::IM_LogCapture() {
  id_ = IM_LogManager::instance()->addSink([this](ACE_Log_Priority, const std::string& text) {
    std::lock_guard<std::mutex> g(mutex_);
    lines_.push_back(text);
  });
}

IM_LogCapture::~IM_LogCapture() { IM_LogManager::instance()->removeSink(id_); }

std::vector<std::string> IM_LogCapture::lines() const {
  std::lock_guard<std::mutex> g(mutex_);
  return lines_;
}

bool IM_LogCapture::contains(const std::string& fragment) const {
  std::lock_guard<std::mutex> g(mutex_);
  for (auto& l : lines_)
    if (l.find(fragment) != std::string::npos) return true;
  return false;
}

IM_Trace::IM_Trace(const char* name, const char* file, int line) : name_(name), file_(file), line_(line) {
  if (IM_LogManager::instance()->enabled(LM_DEBUG))
    IM_LogManager::instance()->write(LM_DEBUG, file_, line_, "enter " + name_);
}

IM_Trace::~IM_Trace() {
  if (IM_LogManager::instance()->enabled(LM_DEBUG))
    IM_LogManager::instance()->write(LM_DEBUG, file_, line_, "leave " + name_);
}
