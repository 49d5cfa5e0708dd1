// postwing_bench: Google Benchmark's runner with the program's logging kept quiet (errors
// only, unless PW_LOG_LEVEL asks for more), so that one line per measurement is printed.
#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdlib>

#include "log/IM_LogManager.h"

int main(int argc, char** argv) {
  // Loopback peers may close first; a write to them must not end the program.
  std::signal(SIGPIPE, SIG_IGN);
  if (std::getenv("PW_LOG_LEVEL") == nullptr) IM_LogManager::instance()->setLevel(LM_ERROR);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
