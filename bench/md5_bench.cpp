// The block MD5 of a net-disk upload: for each 0x80000-byte block the upload task opens the
// file, seeks to the block and digests it in 4096-byte reads (FileMd5). The file is 16 MiB and
// sits in the page cache after the first pass, so this is the digest plus the read calls. A
// second line digests the same block from memory in one call, as the floor.
#include <benchmark/benchmark.h>

#include <openssl/evp.h>
#include <sys/types.h>

#include <cstdio>
#include <string>

#include "BenchSupport.h"

#ifdef PW_BENCH_HAVE_FILEMD5
#include "client/NetDiskUploadTask.h"
#endif

namespace {

const int64_t kFileBytes = 16 * 1024 * 1024;

void BM_NetDisk_BlockMd5FromFile(benchmark::State& state) {
  pwbench::TempFolder folder;
  const std::string path = folder.path() + "/upload.bin";
  if (folder.path().empty() || !pwbench::writeFile(path, pwbench::patternBytes(kFileBytes, 11))) {
    state.SkipWithError("cannot write the file");
    return;
  }
  const int blocks = static_cast<int>(kFileBytes / pwbench::UPLOAD_BLOCK);
  int block = 0;
  for (auto _ : state) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr || fseeko(f, static_cast<off_t>(block * pwbench::UPLOAD_BLOCK), SEEK_SET) != 0) {
      if (f != nullptr) fclose(f);
      state.SkipWithError("cannot read the file");
      break;
    }
    std::string md5 = pwbench::blockMd5(f, pwbench::UPLOAD_BLOCK);
    fclose(f);
    if (md5.size() != 32) {
      state.SkipWithError("no digest");
      break;
    }
    block = (block + 1) % blocks;
  }
  state.SetBytesProcessed(state.iterations() * pwbench::UPLOAD_BLOCK);
  state.SetLabel(pwbench::blockMd5IsClients() ? "FileMd5" : "own copy of FileMd5");
}
BENCHMARK(BM_NetDisk_BlockMd5FromFile);

void BM_NetDisk_BlockMd5InMemory(benchmark::State& state) {
  const std::string block = pwbench::patternBytes(static_cast<std::size_t>(pwbench::UPLOAD_BLOCK), 12);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  for (auto _ : state) {
    if (EVP_Digest(block.data(), block.size(), digest, &n, EVP_md5(), nullptr) != 1) {
      state.SkipWithError("no digest");
      break;
    }
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * pwbench::UPLOAD_BLOCK);
}
BENCHMARK(BM_NetDisk_BlockMd5InMemory);

#ifdef PW_BENCH_HAVE_FILEMD5
// What the merge step of an upload whose modification time is in whole seconds adds: the local
// file read again block by block into the digest of its blocks (BlockDigest::ofFile), here a
// 256 MiB file in the page cache.
void BM_NetDisk_PreMergeReadOfFile(benchmark::State& state) {
  const int64_t bytes = 256 * 1024 * 1024;
  pwbench::TempFolder folder;
  const std::string path = folder.path() + "/whole-second.bin";
  if (folder.path().empty() || !pwbench::writeFile(path, pwbench::patternBytes(static_cast<std::size_t>(bytes), 13))) {
    state.SkipWithError("cannot write the file");
    return;
  }
  for (auto _ : state) {
    std::string digest;
    if (!BlockDigest::ofFile(path, bytes, static_cast<int>(pwbench::UPLOAD_BLOCK), nullptr, digest)) {
      state.SkipWithError("cannot read the file");
      break;
    }
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_NetDisk_PreMergeReadOfFile)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
