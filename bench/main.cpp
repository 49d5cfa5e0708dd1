// postwing_bench: Google Benchmark's runner with the program's logging kept quiet (errors
// only, unless PW_LOG_LEVEL asks for more), so that one line per measurement is printed.
#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "log/IM_LogManager.h"

extern bool pwbenchUpload1GiB;  // client_upload_bench.cpp, when built

int main(int argc, char** argv) {
  // --netdisk_upload_1gib: also the 1 GiB whole-client upload (about 3 GiB of temporary files).
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--netdisk_upload_1gib") != 0) continue;
#ifdef PW_BENCH_HAVE_CLIENT_UPLOAD
    pwbenchUpload1GiB = true;
#endif
    for (int j = i; j < argc; ++j) argv[j] = argv[j + 1];
    --argc;
    --i;
  }
  // Loopback peers may close first; a write to them must not end the program.
  std::signal(SIGPIPE, SIG_IGN);
  if (std::getenv("PW_LOG_LEVEL") == nullptr) IM_LogManager::instance()->setLevel(LM_ERROR);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
