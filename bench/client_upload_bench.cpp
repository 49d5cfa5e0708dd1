// A whole upload through the net-disk client (engine thread, step tasks on their threads, the
// upload records in SQLite, the protocol and the HTTP client), side by side with two anchors that
// do the least any client must do for the same blocks: read a block, MD5 it, send it over one
// reused libcurl handle, one thread. The first anchor sends to the fake net-disk server (create,
// blocks, merge), the second sends the blocks to a loopback server that discards them. Every
// server runs in a child process of its own, so that the CPU time read with getrusage is the
// client's alone. Each iteration runs both anchors, then the client, on the same file.
//
// Arguments: the file's size in MiB, and the client's block threads (0: the default setting).
// Counters: client_MiBps and anchor_MiBps (wall-clock throughput), throughput_ratio
// (client / anchor, goal >= 0.8), client_cpu_s, anchor_cpu_s and discard_cpu_s (user + system
// CPU seconds of this process per upload), cpu_ratio (client / anchor) and cpu_ratio_discard
// (client / discarding anchor); goal at most 1.5 with the default threads, 1.3 with one.
//
// 64 MiB runs by default; the 1 GiB lines run only with --netdisk_upload_1gib (see main.cpp),
// since they write about 3 GiB under the temporary folder.
#include <benchmark/benchmark.h>

#include <curl/curl.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "client/INetDiskClientListener.h"
#include "client/NetDiskClient.h"
#include "db/LocalDb.h"
#include "http/HTTPRequest.h"
#include "protocol/NPMP_Request.h"
#include "protocol/SyncProtocol.h"
#include "sso/SsoClient.h"
#include "sso/SsoCookieManager.h"
#include "testing/FakeNetDiskServer.h"
#include "testing/FakeSsoServer.h"
#include "util/Config.h"

bool pwbenchUpload1GiB = false;  // set by main.cpp for --netdisk_upload_1gib

namespace {

const char* const kUser = "bench@corp.example.com";
const char* const kDomain = "corp.example.com";
const char* const kPassword = "bench-pw";

double cpuSeconds() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The fake servers in a child process. The parent asks over a pipe:
//   "check <name>\n" -> "<1 when complete> <md5 of the merged file>\n", and the file is removed.
class ServerProcess {
 public:
  ServerProcess() : pid_(-1), toChild_(-1), fromChild_(-1), ssoPort_(0), diskPort_(0), discardPort_(0) {
    int down[2], up[2];
    if (pipe(down) != 0) return;
    if (pipe(up) != 0) {
      close(down[0]);
      close(down[1]);
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      close(down[1]);
      close(up[0]);
      serve(down[0], up[1]);
      _exit(0);
    }
    close(down[0]);
    close(up[1]);
    toChild_ = down[1];
    fromChild_ = up[0];
    std::string line = readLine();
    if (sscanf(line.c_str(), "%hu %hu %hu", &ssoPort_, &diskPort_, &discardPort_) != 3) ssoPort_ = diskPort_ = 0;
  }
  ~ServerProcess() {
    if (toChild_ >= 0) close(toChild_);  // the child ends at the end of its input
    if (fromChild_ >= 0) close(fromChild_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  bool ok() const { return diskPort_ != 0; }
  std::string ssoHostPort() const { return "127.0.0.1:" + std::to_string(ssoPort_); }
  std::string diskHostPort() const { return "127.0.0.1:" + std::to_string(diskPort_); }
  std::string discardHostPort() const { return "127.0.0.1:" + std::to_string(discardPort_); }

  // The md5 of the merged file, "" when it is not complete; the file is removed.
  std::string checkAndRemove(const std::string& name) {
    std::string ask = "check " + name + "\n";
    if (write(toChild_, ask.data(), ask.size()) != static_cast<ssize_t>(ask.size())) return std::string();
    std::string line = readLine();
    if (line.size() < 2 || line[0] != '1') return std::string();
    return line.substr(2);
  }

 private:
  std::string readLine() { return readLineFrom(fromChild_); }
  static std::string readLineFrom(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  static void serve(int in, int out) {
    signal(SIGPIPE, SIG_IGN);
    pwtest::FakeSsoServer sso;
    pwtest::FakeNetDiskServer disk(&sso);
    sso.addUser(kUser, kPassword);
    disk.setBlockSize(static_cast<uint32_t>(pwbench::UPLOAD_BLOCK));
    disk.setQuota(64.0 * 1024 * 1024 * 1024);
    disk.http().setLoggedBodyLimit(4096);  // the request log would hold every block
    pwtest::LoopbackHttpServer discard([](const pwtest::HttpRequestRecord&) { return pwtest::HttpReply(200, "{}"); });
    discard.setLoggedBodyLimit(0);
    std::string ports = std::to_string(sso.port()) + " " + std::to_string(disk.port()) + " " +
                        std::to_string(discard.port()) + "\n";
    if (write(out, ports.data(), ports.size()) < 0) return;
    for (;;) {
      std::string line = readLineFrom(in);
      if (line.compare(0, 6, "check ") != 0) break;
      std::string name = line.substr(6);
      std::string answer = disk.isComplete(kUser, name) ? "1 " + disk.fileMd5(kUser, name) : "0 ";
      answer += "\n";
      disk.removeFile(kUser, name);
      if (write(out, answer.data(), answer.size()) < 0) break;
    }
  }

  pid_t pid_;
  int toChild_;
  int fromChild_;
  unsigned short ssoPort_;
  unsigned short diskPort_;
  unsigned short discardPort_;
};

// Waits for the end of one upload of the client.
class UploadWaiter : public INetDiskClientListener {
 public:
  void expect(const std::string& localFile) {
    std::lock_guard<std::mutex> lock(mutex_);
    localFile_ = localFile;
    name_.clear();
    done_ = false;
    error_ = 0;
  }
  // 0 finished, else the error (or -1 on time-out).
  int wait(int seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::seconds(seconds), [&] { return done_; })) return -1;
    return error_;
  }
  std::string name() {
    std::lock_guard<std::mutex> lock(mutex_);
    return name_;
  }
  bool waitListed(int seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(seconds), [&] { return listed_; });
  }

  void onListFile(const std::vector<NetDiskFileItem>&, int error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    listed_ = error == 0;
    cv_.notify_all();
  }
  void onRenameFile(const std::string&, const std::string&, int) override {}
  void onDeleteFile(const std::string&, int) override {}
  void onListUploadTask(const std::vector<UploadTaskStatus>&, int) override {}
  void onUploadStatus(const UploadTaskStatus& task, int error) override { state(task, error); }
  void onAddUploadTask(const UploadTaskStatus& task, int error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (task.localFile != localFile_) return;
    name_ = task.relpath;
    if (error != 0) finish(error);
  }
  void onPauseUpload(const UploadTaskStatus& task, int error) override { state(task, error); }
  void onResumeUpload(const UploadTaskStatus& task, int error) override { state(task, error); }
  void onCancelUpload(const std::string&, int) override {}
  void onDownloadUrl(const std::map<std::string, std::string>&) override {}

 private:
  void state(const UploadTaskStatus& task, int error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (task.relpath != name_ || name_.empty()) return;
    if (error != 0)
      finish(error);
    else if (task.state == UploadTaskStatus::FINISHED)
      finish(0);
    else if (task.state == UploadTaskStatus::STOPPED)
      finish(100);
  }
  void finish(int error) {
    if (done_) return;
    done_ = true;
    error_ = error;
    cv_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::string localFile_;
  std::string name_;
  bool done_ = false;
  bool listed_ = false;
  int error_ = 0;
};

size_t collect(char* data, size_t size, size_t count, void* userdata) {
  static_cast<std::string*>(userdata)->append(data, size * count);
  return size * count;
}

// The anchor: create, then for each block read + MD5 + POST over one kept curl handle, merge.
// With `discard`, only the blocks, to a server that discards them.
std::string anchorUpload(const std::string& path, const std::string& name, int64_t fileBytes,
                         const std::string& diskHostPort, bool discard = false) {
  const int blocks = static_cast<int>((fileBytes + pwbench::UPLOAD_BLOCK - 1) / pwbench::UPLOAD_BLOCK);
  if (!discard) {
    CSyncProtocol p(kUser, kPassword);
    std::string url, created;
    if (!p.CreateLargeFile("", name, fileBytes, "", blocks, url, created))
      return "anchor create: " + std::to_string(p.getLastStatus());
  }
  std::string cookies;
  for (const std::string& c : SsoCookieManager::getCookies("npmp", kUser)) cookies += (cookies.empty() ? "" : "; ") + c;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return "anchor: cannot open the file";
  CURL* curl = curl_easy_init();
  std::vector<char> body;
  std::string failure;
  for (int i = 0; i < blocks && failure.empty(); ++i) {
    const int64_t offset = i * pwbench::UPLOAD_BLOCK;
    const int64_t length = std::min(pwbench::UPLOAD_BLOCK, fileBytes - offset);
    NPMP_UploadFileReq request;
    request.setDomainName(kDomain);
    request.setUserId(kUser);
    request.setFilePath("/" + std::string(kUser) + "/transit/" + name);
    request.setOffset(static_cast<uint64_t>(offset));
    request.setBlockId(i);
    request.setBlockTotal(blocks);
    request.setBlockSize(static_cast<uint32_t>(length));
    request.setOperationPath("file/uploadBlock");
    // The MD5 goes into the head, so the block is read and hashed first.
    std::vector<char> block(static_cast<size_t>(length));
    if (fread(block.data(), 1, block.size(), f) != block.size()) {
      failure = "anchor: short read";
      break;
    }
    unsigned char digest[16];
    unsigned int n = 0;
    EVP_Digest(block.data(), block.size(), digest, &n, EVP_md5(), nullptr);
    static const char kHex[] = "0123456789abcdef";
    std::string md5;
    for (int k = 0; k < 16; ++k) {
      md5 += kHex[digest[k] >> 4];
      md5 += kHex[digest[k] & 15];
    }
    request.setBlockHash(md5);
    HTTPRequest http;
    request.encode(http);
    const std::string head = http.getBodyText();
    const std::string& tail = request.getClosingDelimiter();
    body.resize(head.size() + block.size() + tail.size());
    std::copy(head.begin(), head.end(), body.begin());
    std::copy(block.begin(), block.end(), body.begin() + static_cast<long>(head.size()));
    std::copy(tail.begin(), tail.end(), body.begin() + static_cast<long>(head.size() + block.size()));
    std::string url = "http://" + diskHostPort + http.getURI();
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, ("Content-Type: " + http.get("Content-Type")).c_str());
    headers = curl_slist_append(headers, ("Cookie: " + cookies).c_str());
    headers = curl_slist_append(headers, "Expect:");
    std::string answer;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    if (rc != CURLE_OK || status != 200)
      failure = "anchor block " + std::to_string(i) + ": " + std::to_string(status) + " " + answer;
  }
  curl_easy_cleanup(curl);
  fclose(f);
  if (!failure.empty() || discard) return failure;
  CSyncProtocol p(kUser, kPassword);
  if (!p.MegerLargeFileBlock(name, std::string(32, '0'))) return "anchor merge: " + std::to_string(p.getLastStatus());
  return std::string();
}

std::string fileMd5(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return std::string();
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr);
  std::vector<char> buffer(1 << 20);
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), f)) > 0) EVP_DigestUpdate(ctx.get(), buffer.data(), n);
  fclose(f);
  unsigned char digest[16];
  unsigned int len = 0;
  EVP_DigestFinal_ex(ctx.get(), digest, &len);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (int k = 0; k < 16; ++k) {
    out += kHex[digest[k] >> 4];
    out += kHex[digest[k] & 15];
  }
  return out;
}

void BM_NetDisk_ClientUploadVsAnchor(benchmark::State& state) {
  const int64_t fileBytes = state.range(0) * 1024 * 1024;
  const int threads = static_cast<int>(state.range(1));
  if (fileBytes >= (int64_t(1) << 30) && !pwbenchUpload1GiB) {
    state.SkipWithError("opt-in: run with --netdisk_upload_1gib");
    return;
  }
  ServerProcess servers;  // before any thread of this measurement
  pwbench::TempFolder folder;
  if (!servers.ok() || folder.path().empty()) {
    state.SkipWithError("the servers or the folder could not be made");
    return;
  }
  const std::string path = folder.path() + "/upload.bin";
  {
    std::ofstream out(path, std::ios::binary);
    const std::string chunk = pwbench::patternBytes(8 * 1024 * 1024, 31);
    for (int64_t left = fileBytes; left > 0; left -= static_cast<int64_t>(chunk.size()))
      out.write(chunk.data(), static_cast<std::streamsize>(std::min<int64_t>(left, chunk.size())));
    if (!out) {
      state.SkipWithError("cannot write the file");
      return;
    }
  }
  const std::string expected = fileMd5(path);
  setenv("PW_HOME", folder.path().c_str(), 1);
  Config* config = Config::instance();
  config->setValue("VASTO", "spaceServer", servers.diskHostPort());
  config->setValue("SSO", "server", servers.ssoHostPort());
  config->setValue("VASTO", "httpTimeout", "60");
  config->setValue("SSO", "httpTimeout", "60");
  if (threads > 0) config->setValue("VASTO", "maxThread", std::to_string(threads));
  SsoCookieManager::clearCookie(kUser);
  NetDiskClient* client = NetDiskClient::instance();
  client->shutdown();  // a fresh client that reads the settings above
  UploadWaiter waiter;
  client->addListener(&waiter);
  client->init(kUser, kPassword);
  client->listFile();
  if (!waiter.waitListed(60)) {
    state.SkipWithError("no listing");
  } else {
    double clientWall = 0, anchorWall = 0, clientCpu = 0, anchorCpu = 0, discardCpu = 0;
    int round = 0;
    for (auto _ : state) {
      ++round;
      const std::string anchorName = "anchor" + std::to_string(round) + ".bin";
      double c0 = cpuSeconds();
      auto t0 = std::chrono::steady_clock::now();
      std::string failure = anchorUpload(path, anchorName, fileBytes, servers.diskHostPort());
      auto t1 = std::chrono::steady_clock::now();
      double c1 = cpuSeconds();
      if (failure.empty() && servers.checkAndRemove(anchorName) != expected) failure = "anchor: file differs";
      double d0 = cpuSeconds();
      if (failure.empty()) failure = anchorUpload(path, anchorName, fileBytes, servers.discardHostPort(), true);
      discardCpu += cpuSeconds() - d0;

      waiter.expect(path);
      double c2 = cpuSeconds();
      auto t2 = std::chrono::steady_clock::now();
      client->addUploadTask(path, "");
      int r = failure.empty() ? waiter.wait(600) : 0;
      auto t3 = std::chrono::steady_clock::now();
      double c3 = cpuSeconds();
      if (failure.empty() && r != 0) failure = "client upload ended with " + std::to_string(r);
      if (failure.empty() && servers.checkAndRemove(waiter.name()) != expected) failure = "client: file differs";
      if (!failure.empty()) {
        state.SkipWithError(failure.c_str());
        break;
      }
      double clientSeconds = std::chrono::duration<double>(t3 - t2).count();
      state.SetIterationTime(clientSeconds);
      clientWall += clientSeconds;
      anchorWall += std::chrono::duration<double>(t1 - t0).count();
      clientCpu += c3 - c2;
      anchorCpu += c1 - c0;
    }
    if (round > 0 && clientWall > 0 && anchorWall > 0) {
      const double mib = static_cast<double>(fileBytes) / (1024.0 * 1024.0);
      state.counters["client_MiBps"] = mib * round / clientWall;
      state.counters["anchor_MiBps"] = mib * round / anchorWall;
      state.counters["throughput_ratio"] = anchorWall / clientWall;
      state.counters["client_cpu_s"] = clientCpu / round;
      state.counters["anchor_cpu_s"] = anchorCpu / round;
      state.counters["cpu_ratio"] = anchorCpu > 0 ? clientCpu / anchorCpu : 0;
      state.counters["discard_cpu_s"] = discardCpu / round;
      state.counters["cpu_ratio_discard"] = discardCpu > 0 ? clientCpu / discardCpu : 0;
    }
  }
  client->shutdown();
  client->removeListener(&waiter);
  LocalDb::instance()->close();
  SsoCookieManager::clearCookie(kUser);
  SsoClient::destroy();
  config->removeValue("VASTO", "spaceServer");
  config->removeValue("VASTO", "maxThread");
  config->removeValue("SSO", "server");
  unsetenv("PW_HOME");
}
BENCHMARK(BM_NetDisk_ClientUploadVsAnchor)
    ->ArgNames({"MiB", "threads"})
    ->Args({64, 0})
    ->Args({64, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);
BENCHMARK(BM_NetDisk_ClientUploadVsAnchor)
    ->ArgNames({"MiB", "threads"})
    ->Args({1024, 0})
    ->Args({1024, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(2);

}  // namespace
