// A program started in an operating-system process of its own, its standard output and error
// written to a log file; killed (and reaped) at the end if it still runs.
// Thread rule: one test thread owns the object.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace pwtest {

class ChildProcess {
 public:
  // The environment is this process's, without the variables named in `unset` and with each
  // "NAME=value" of `set` in place of this process's NAME.
  ChildProcess(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& set,
               const std::vector<std::string>& unset, const std::string& logPath)
      : log_(logPath) {
    std::vector<std::string> names = unset;
    for (const std::string& s : set) names.push_back(s.substr(0, s.find('=')));
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      bool keep = true;
      for (const std::string& n : names)
        if (strncmp(*e, n.c_str(), n.size()) == 0 && (*e)[n.size()] == '=') keep = false;
      if (keep) env.push_back(*e);
    }
    env.insert(env.end(), set.begin(), set.end());
    std::vector<char*> envp, argv;
    for (auto& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    for (auto& a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    if (posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~ChildProcess() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // What the program has written so far.
  std::string log() const {
    std::ifstream in(log_, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  // True once the log holds `fragment`; false when it does not within timeoutMs.
  bool waitLog(const std::string& fragment, int timeoutMs) const {
    return waitFor([&] { return log().find(fragment) != std::string::npos; }, timeoutMs);
  }
  // The exit status, or -1 when it did not end in time (or ended by a signal).
  int waitExit(int timeoutMs) {
    int status = 0;
    if (!waitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs)) return -1;
    ended_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  // Polls `done` until it holds or the deadline passes.
  template <typename Pred>
  static bool waitFor(Pred done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (done()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  pid_t pid_ = -1;
  bool ended_ = false;
  std::string log_;
};

}  // namespace pwtest
