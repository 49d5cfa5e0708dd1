// An upload of a 16 MiB file through the net-disk protocol, step by step as the upload tasks
// run it: create the large file, then for each 0x80000-byte block its MD5 from the file and the
// multipart block upload pulling the bytes from the file, then the merge. The peers are the
// fake net-disk and single sign-on servers of the tests, on 127.0.0.1 in this same process, so
// their work (reading the body, checking each block's MD5, joining the blocks) is part of the
// time. The session is made before the timed region; the file is deleted between runs.
#include <benchmark/benchmark.h>

#include <ace/Message_Block.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <list>
#include <string>

#include "BenchSupport.h"
#include "protocol/SyncProtocol.h"
#include "sso/SsoCookieManager.h"
#include "testing/FakeNetDiskServer.h"
#include "testing/FakeSsoServer.h"
#include "util/Config.h"

namespace {

const char* const kUser = "bench@corp.example.com";
const char* const kPassword = "bench-pw";
const char* const kName = "bench upload.bin";
const int64_t kFileBytes = 16 * 1024 * 1024;

// One block's bytes, read from the file as the upload task reads them.
class FileBlock : public CSyncProtocolObserver {
 public:
  FileBlock(FILE* file, int64_t offset, int64_t length) : file_(file), offset_(offset), length_(length), sent_(0) {}

  bool GetUpLoadData(int maxLength, ACE_Message_Block* block) override {
    block->reset();
    std::size_t want = static_cast<std::size_t>(std::max<int64_t>(0, std::min<int64_t>(length_ - sent_, maxLength)));
    want = std::min(want, block->space());
    std::size_t got = want > 0 ? fread(block->wr_ptr(), 1, want, file_) : 0;
    if (got == 0) return false;
    block->wr_ptr(got);
    sent_ += static_cast<int64_t>(got);
    return true;
  }
  bool RewindUpLoadData() override {
    sent_ = 0;
    return fseeko(file_, static_cast<off_t>(offset_), SEEK_SET) == 0;
  }

 private:
  FILE* file_;
  int64_t offset_;
  int64_t length_;
  int64_t sent_;
};

// Uploads the whole file; "" on success, else what failed.
std::string uploadFile(const std::string& path) {
  const int blocks = static_cast<int>((kFileBytes + pwbench::UPLOAD_BLOCK - 1) / pwbench::UPLOAD_BLOCK);
  {
    CSyncProtocol p(kUser, kPassword);
    std::string url, created;
    if (!p.CreateLargeFile("", kName, kFileBytes, "", blocks, url, created))
      return "createLargeFile: " + std::to_string(p.getLastStatus());
  }
  for (int i = 0; i < blocks; ++i) {
    const int64_t offset = i * pwbench::UPLOAD_BLOCK;
    const int64_t length = std::min(pwbench::UPLOAD_BLOCK, kFileBytes - offset);
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr || fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) {
      if (f != nullptr) fclose(f);
      return "cannot read the file";
    }
    const std::string md5 = pwbench::blockMd5(f, length);
    FileBlock source(f, offset, length);
    bool ok = source.RewindUpLoadData();
    bool retry = false;
    CSyncProtocol p(kUser, kPassword);
    ok = ok && p.UpLoadBlockData(&source, kName, i, blocks, static_cast<uint32_t>(length),
                                 static_cast<uint64_t>(offset), md5, retry);
    fclose(f);
    if (!ok) return "uploadBlock " + std::to_string(i) + ": " + std::to_string(p.getLastStatus());
  }
  CSyncProtocol p(kUser, kPassword);
  if (!p.MegerLargeFileBlock(kName, std::string(32, '0')))
    return "megerLargeFileBlock: " + std::to_string(p.getLastStatus());
  return std::string();
}

void BM_NetDisk_Upload16MiB(benchmark::State& state) {
  pwbench::TempFolder folder;
  const std::string path = folder.path() + "/upload.bin";
  const std::string bytes = pwbench::patternBytes(static_cast<std::size_t>(kFileBytes), 21);
  if (folder.path().empty() || !pwbench::writeFile(path, bytes)) {
    state.SkipWithError("cannot write the file");
    return;
  }
  pwtest::FakeSsoServer sso;
  pwtest::FakeNetDiskServer disk(&sso);
  if (!sso.isListening() || !disk.isListening()) {
    state.SkipWithError("the loopback servers did not start");
    return;
  }
  sso.addUser(kUser, kPassword);
  disk.setBlockSize(static_cast<uint32_t>(pwbench::UPLOAD_BLOCK));
  disk.setQuota(4.0 * kFileBytes);
  Config* config = Config::instance();
  config->setValue("VASTO", "spaceServer", disk.hostPort());
  config->setValue("SSO", "server", sso.hostPort());
  config->setValue("VASTO", "httpTimeout", "30");
  config->setValue("SSO", "httpTimeout", "30");
  SsoCookieManager::clearCookie(kUser);
  {
    // Sign in once, outside the timed region.
    CSyncProtocol p(kUser, kPassword);
    double used = 0, quota = 0;
    if (!p.GetSpaceInfo(used, quota)) {
      state.SkipWithError("no net-disk session");
      return;
    }
  }
  for (auto _ : state) {
    const std::string failure = uploadFile(path);
    state.PauseTiming();
    bool stored = failure.empty() && disk.isComplete(kUser, kName) && disk.fileMd5(kUser, kName) ==
                                                                          pwtest::FakeNetDiskServer::md5Hex(bytes);
    CSyncProtocol p(kUser, kPassword);
    bool removed = p.RemoveByPaths(std::list<std::string>(1, kName));
    disk.http().clearRequests();
    sso.clearRequests();
    state.ResumeTiming();
    if (!stored || !removed) {
      state.SkipWithError(failure.empty() ? "the server does not hold the file as sent" : failure.c_str());
      break;
    }
  }
  SsoCookieManager::clearCookie(kUser);
  config->removeValue("VASTO", "spaceServer");
  config->removeValue("SSO", "server");
  state.SetBytesProcessed(state.iterations() * kFileBytes);
  state.counters["blocks"] = static_cast<double>(kFileBytes / pwbench::UPLOAD_BLOCK);
}
BENCHMARK(BM_NetDisk_Upload16MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
