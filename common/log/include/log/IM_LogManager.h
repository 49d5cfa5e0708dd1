// The logging library: entries go onto ACE's log stream when their priority
// passes the manager's level. Any thread.
#pragma once

#include <ace/Log_Priority.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class IM_LogManager {
 public:
  static IM_LogManager* instance();

  // Lowest priority written; entries below it are skipped. Default LM_INFO,
  // or PW_LOG_LEVEL (debug|info|warning|error) from the environment.
  void setLevel(ACE_Log_Priority level);
  ACE_Log_Priority level() const;
  bool enabled(ACE_Log_Priority priority) const;

  // printf-style formatting into a std::string.
  static std::string logFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

  // Writes one entry "[file:line] text" with the given priority. Sets up the
  // calling thread's log stream on its first entry.
  void write(ACE_Log_Priority priority, const char* file, int line, const std::string& text);

  // Observers see every written entry's text (tests read log lines through this).
  using Sink = std::function<void(ACE_Log_Priority, const std::string&)>;
  int addSink(Sink sink);
  void removeSink(int id);

 private:
  IM_LogManager();
  int level_;
  mutable std::mutex sinksMutex_;  // guards sinks_, nextSinkId_
  std::vector<std::pair<int, Sink>> sinks_;
  int nextSinkId_ = 1;
};

// Records the texts written while it lives. Any thread.
class IM_LogCapture {
 public:
  IM_LogCapture();
  ~IM_LogCapture();
  std::vector<std::string> lines() const;
  bool contains(const std::string& fragment) const;

 private:
  int id_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

#define IM_LOG(prio, ...)                                                               \
  do {                                                                                  \
    if (IM_LogManager::instance()->enabled(prio))                                       \
      IM_LogManager::instance()->write(prio, __FILE__, __LINE__,                        \
                                       IM_LogManager::logFormat(__VA_ARGS__));          \
  } while (0)
#define IM_LOG_DEBUG(...) IM_LOG(LM_DEBUG, __VA_ARGS__)
#define IM_LOG_INFO(...) IM_LOG(LM_INFO, __VA_ARGS__)
#define IM_LOG_WARN(...) IM_LOG(LM_WARNING, __VA_ARGS__)
#define IM_LOG_ERROR(...) IM_LOG(LM_ERROR, __VA_ARGS__)
