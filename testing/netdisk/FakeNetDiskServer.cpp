#include "testing/FakeNetDiskServer.h"

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

namespace pwtest {

using nlohmann::json;

const char* const FakeNetDiskServer::STATUS = "user/services/status";
const char* const FakeNetDiskServer::LISTING = "folder/childfolderAndFiles";
const char* const FakeNetDiskServer::CREATE = "file/createLargeFile";
const char* const FakeNetDiskServer::UPLOAD = "file/uploadBlock";
const char* const FakeNetDiskServer::MERGE = "file/megerLargeFileBlock";
const char* const FakeNetDiskServer::DOWNLOAD = "file/download";
const char* const FakeNetDiskServer::REMOVE = "file/premove";
const char* const FakeNetDiskServer::SESSION = "getSession";
const char* const FakeNetDiskServer::GET = "file/get";

namespace {

const char* const kSessionPath = "/space/rest/sso/getSession";
const char* const kFilePrefix = "/space/file/get/";
const int kHoldLimitMs = 30000;  // a held block gives up by itself

std::string lower(std::string s) {
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
  return s;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

std::string domainOf(const std::string& user) {
  size_t at = user.find('@');
  return at == std::string::npos ? std::string() : user.substr(at + 1);
}

std::string lastComponent(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string parentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Parameters of a header value such as `form-data; name="a"; filename="b"`.
std::map<std::string, std::string> headerParams(const std::string& value) {
  std::map<std::string, std::string> out;
  size_t i = value.find(';');
  while (i != std::string::npos && i < value.size()) {
    ++i;
    size_t eq = value.find('=', i);
    if (eq == std::string::npos) break;
    std::string name = lower(trim(value.substr(i, eq - i)));
    size_t v = eq + 1;
    while (v < value.size() && (value[v] == ' ' || value[v] == '\t')) ++v;
    std::string val;
    size_t next;
    if (v < value.size() && value[v] == '"') {
      size_t close = value.find('"', v + 1);
      if (close == std::string::npos) break;
      val = value.substr(v + 1, close - v - 1);
      next = value.find(';', close);
    } else {
      next = value.find(';', v);
      val = trim(value.substr(v, next == std::string::npos ? std::string::npos : next - v));
    }
    out[name] = val;
    i = next;
  }
  return out;
}

// Reads part headers from `p` up to the blank line, unfolding CR LF + SP/TAB.
// Gives the unfolded lines and moves `p` past the blank line.
bool readHeaders(const std::string& body, size_t& p, std::vector<std::string>& lines, std::string& error) {
  size_t end = body.find("\r\n\r\n", p);
  if (end == std::string::npos) {
    error = "part headers do not end";
    return false;
  }
  std::string block = body.substr(p, end - p);
  std::string unfolded;
  for (size_t i = 0; i < block.size(); ++i) {
    // A line break followed by a blank continues the previous line.
    if (block[i] == '\r' && i + 2 < block.size() && block[i + 1] == '\n' &&
        (block[i + 2] == ' ' || block[i + 2] == '\t')) {
      ++i;
      continue;
    }
    unfolded += block[i];
  }
  size_t s = 0;
  while (s <= unfolded.size()) {
    size_t e = unfolded.find("\r\n", s);
    std::string line = unfolded.substr(s, e == std::string::npos ? std::string::npos : e - s);
    if (!line.empty()) lines.push_back(line);
    if (e == std::string::npos) break;
    s = e + 2;
  }
  p = end + 4;
  return true;
}

std::string headerValue(const std::vector<std::string>& lines, const std::string& name) {
  for (size_t i = 0; i < lines.size(); ++i) {
    size_t colon = lines[i].find(':');
    if (colon != std::string::npos && lower(trim(lines[i].substr(0, colon))) == lower(name))
      return trim(lines[i].substr(colon + 1));
  }
  return std::string();
}

std::string join(const std::vector<std::string>& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += "\r\n";
    out += lines[i];
  }
  return out;
}

bool isLowerHex32(const std::string& s) {
  if (s.size() != 32) return false;
  for (size_t i = 0; i < s.size(); ++i)
    if (!((s[i] >= '0' && s[i] <= '9') || (s[i] >= 'a' && s[i] <= 'f'))) return false;
  return true;
}

bool isDecimal(const std::string& s) {
  if (s.empty() || s.size() > 18) return false;
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

bool parseJsonObject(const std::string& text, json& out) {
  out = json::parse(text, nullptr, false);
  return !out.is_discarded() && out.is_object();
}

}  // namespace

std::string FakeNetDiskServer::md5Hex(const std::string& bytes) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(bytes.data(), bytes.size(), out, &n, EVP_md5(), nullptr);
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < n; ++i) {
    hex += digits[out[i] >> 4];
    hex += digits[out[i] & 15];
  }
  return hex;
}

bool FakeNetDiskServer::parseUpload(const std::string& contentType, const std::string& body,
                                    MultipartUpload& out, std::string& error) {
  std::string type = lower(trim(contentType.substr(0, contentType.find(';'))));
  if (type != "multipart/form-data") {
    error = "content type is not multipart/form-data";
    return false;
  }
  out.boundary = headerParams(contentType)["boundary"];
  if (out.boundary.empty()) {
    error = "no boundary";
    return false;
  }
  const std::string delim = "--" + out.boundary;
  // Anything before the first delimiter line is preamble.
  size_t p;
  if (body.compare(0, delim.size(), delim) == 0) {
    p = 0;
  } else {
    p = body.find("\r\n" + delim);
    if (p == std::string::npos) {
      error = "no first delimiter";
      return false;
    }
    p += 2;
  }
  p += delim.size();
  if (body.compare(p, 2, "\r\n") != 0) {
    error = "first delimiter line does not end";
    return false;
  }
  p += 2;

  std::vector<std::string> lines;
  if (!readHeaders(body, p, lines, error)) return false;
  if (headerParams(headerValue(lines, "Content-Disposition"))["name"] != "txtPost") {
    error = "first part is not txtPost";
    return false;
  }
  out.postHeaders = join(lines);
  size_t end = body.find("\r\n" + delim, p);
  if (end == std::string::npos) {
    error = "txtPost does not end";
    return false;
  }
  out.txtPost = body.substr(p, end - p);
  p = end + 2 + delim.size();
  if (body.compare(p, 2, "\r\n") != 0) {
    error = "second delimiter line does not end";
    return false;
  }
  p += 2;

  lines.clear();
  if (!readHeaders(body, p, lines, error)) return false;
  std::map<std::string, std::string> disposition = headerParams(headerValue(lines, "Content-Disposition"));
  if (disposition["name"] != "txtFile" || disposition.count("filename") == 0) {
    error = "second part is not txtFile with a filename";
    return false;
  }
  out.fileHeaders = join(lines);
  out.fileName = disposition["filename"];

  json post;
  if (!parseJsonObject(out.txtPost, post) || !post.contains("blocksize") ||
      !post["blocksize"].is_number_unsigned()) {
    error = "txtPost has no unsigned blocksize";
    return false;
  }
  uint64_t size = post["blocksize"].get<uint64_t>();
  if (size > body.size() - p) {
    error = "the block is shorter than blocksize";
    return false;
  }
  out.data = body.substr(p, static_cast<size_t>(size));
  p += static_cast<size_t>(size);
  if (body.compare(p, std::string::npos, "\r\n" + delim + "--\r\n") != 0) {
    error = "the body does not end with the closing delimiter right after the block";
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------

FakeNetDiskServer::FakeNetDiskServer(FakeSsoServer* sso)
    : sso_(sso),
      root_("/space/rest/server/"),
      blockSize_(DEFAULT_BLOCK_SIZE),
      quota_(1073741824.0),
      lostStatus_(302),
      linkForm_(LINK_PLAIN),
      created_(1398902400),  // 2014-05-01 00:00:00 UTC
      hold_(false),
      releases_(0),
      held_(0),
      stopping_(false),
      md5Mismatches_(0),
      lostSessions_(0),
      inFlight_(0),
      maxInFlight_(0),
      maxFilesInFlight_(0),
      serial_(0),
      listingLinks_(true),
      http_([this](const HttpRequestRecord& r) { return handle(r); }) {
  std::string pattern = (std::filesystem::temp_directory_path() / "pwfakedisk-XXXXXX").string();
  char* made = mkdtemp(&pattern[0]);
  folder_ = made != nullptr ? made : "";
}

FakeNetDiskServer::~FakeNetDiskServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  cv_.notify_all();
  http_.stop();
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

std::string FakeNetDiskServer::newDataFile() { return folder_ + "/f" + std::to_string(++serial_) + ".data"; }

std::string FakeNetDiskServer::readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void FakeNetDiskServer::setRoot(const std::string& root) {
  std::lock_guard<std::mutex> lock(mutex_);
  root_ = root.empty() || root[root.size() - 1] != '/' ? root + "/" : root;
}
void FakeNetDiskServer::setBlockSize(uint32_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  blockSize_ = size == 0 ? DEFAULT_BLOCK_SIZE : size;
}
void FakeNetDiskServer::setQuota(double bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  quota_ = bytes;
}
void FakeNetDiskServer::setLostSessionStatus(int status) {
  std::lock_guard<std::mutex> lock(mutex_);
  lostStatus_ = status;
}
void FakeNetDiskServer::setLinkForm(LinkForm form) {
  std::lock_guard<std::mutex> lock(mutex_);
  linkForm_ = form;
}
void FakeNetDiskServer::setCreated(int64_t unixTime) {
  std::lock_guard<std::mutex> lock(mutex_);
  created_ = unixTime;
}
void FakeNetDiskServer::setListingLinks(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  listingLinks_ = on;
}

void FakeNetDiskServer::failNext(const std::string& endpoint, const HttpReply& reply, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  Scripted s;
  s.reply = reply;
  s.times = times;
  scripted_[endpoint].push_back(s);
}
void FakeNetDiskServer::failNext(const std::string& endpoint, int status, int times) {
  failNext(endpoint, HttpReply(status, "{}"), times);
}
void FakeNetDiskServer::setDropKeptConnections(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  dropKept_ = on;
}
void FakeNetDiskServer::loseAnswer(const std::string& endpoint, int status, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  Scripted s;
  s.reply = HttpReply(status, "{}");
  s.times = times;
  lostAnswers_[endpoint].push_back(s);
}
void FakeNetDiskServer::delayAnswer(const std::string& endpoint, int delayMs, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  Scripted s;
  s.reply.delayMs = delayMs;
  s.times = times;
  delayedAnswers_[endpoint].push_back(s);
}
void FakeNetDiskServer::setListedMd5(ListedMd5 form) {
  std::lock_guard<std::mutex> lock(mutex_);
  listedMd5_ = form;
}
void FakeNetDiskServer::failBlock(const std::string& name, int index, int status, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string key = name + "#" + std::to_string(index);
  blockFaults_times_[key] = times;
  blockFaults_status_[key] = status;
}
void FakeNetDiskServer::expireSessions() {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.clear();
}
void FakeNetDiskServer::holdUploads(bool hold) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = hold;
    if (!hold) releases_ = 1 << 30;
    else releases_ = 0;
  }
  cv_.notify_all();
}
void FakeNetDiskServer::release(int count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    releases_ += count;
  }
  cv_.notify_all();
}
bool FakeNetDiskServer::waitHeld(int count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return held_ >= count; });
}

std::string FakeNetDiskServer::fullPath(const std::string& user, const std::string& name) {
  return "/" + user + "/transit/" + name;
}

FakeNetDiskServer::File& FakeNetDiskServer::seedFile(const std::string& user, const std::string& relPath,
                                                     int64_t size, const std::string* bytes) {
  File& f = files_[fullPath(user, relPath)];
  if (!f.data.empty()) ::unlink(f.data.c_str());
  f = File();
  f.size = size;
  f.blockTotal = static_cast<int>((size + blockSize_ - 1) / blockSize_);
  if (bytes != nullptr) {
    f.data = newDataFile();
    std::ofstream(f.data, std::ios::binary).write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
  }
  f.token = "T" + std::to_string(++serial_);
  f.owner = user;
  return f;
}
void FakeNetDiskServer::putFile(const std::string& user, const std::string& relPath, const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  File& f = seedFile(user, relPath, static_cast<int64_t>(bytes.size()), &bytes);
  f.complete = true;
  f.md5 = md5Hex(bytes);
}
void FakeNetDiskServer::putListedFile(const std::string& user, const std::string& relPath, int64_t size,
                                      const std::string& md5, bool finished) {
  std::lock_guard<std::mutex> lock(mutex_);
  File& f = seedFile(user, relPath, size, nullptr);
  f.complete = finished;
  f.md5 = md5;
}
void FakeNetDiskServer::putUnfinishedFile(const std::string& user, const std::string& relPath,
                                          const std::string& bytes, int storedBlocks) {
  std::lock_guard<std::mutex> lock(mutex_);
  File& f = seedFile(user, relPath, static_cast<int64_t>(bytes.size()), &bytes);
  for (int i = 0; i < storedBlocks && i < f.blockTotal; ++i) f.blocks.insert(i);
}
void FakeNetDiskServer::addFolder(const std::string& user, const std::string& relPath) {
  std::lock_guard<std::mutex> lock(mutex_);
  folders_[fullPath(user, relPath)] = user;
}

void FakeNetDiskServer::removeFile(const std::string& user, const std::string& relPath) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(fullPath(user, relPath));
  if (it == files_.end()) return;
  if (!it->second.data.empty()) ::unlink(it->second.data.c_str());
  files_.erase(it);
}

bool FakeNetDiskServer::hasFile(const std::string& user, const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return files_.count(fullPath(user, name)) != 0;
}
bool FakeNetDiskServer::isComplete(const std::string& user, const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(fullPath(user, name));
  return it != files_.end() && it->second.complete;
}
std::string FakeNetDiskServer::fileBytes(const std::string& user, const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(fullPath(user, name));
  return it == files_.end() || !it->second.complete ? std::string() : readAll(it->second.data);
}
std::string FakeNetDiskServer::fileMd5(const std::string& user, const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(fullPath(user, name));
  return it == files_.end() ? std::string() : it->second.md5;
}
std::vector<int> FakeNetDiskServer::blocksReceived(const std::string& user, const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<int> out;
  auto it = files_.find(fullPath(user, name));
  if (it != files_.end())
    for (int b : it->second.blocks) out.push_back(b);
  return out;
}
int FakeNetDiskServer::sends(const std::string& user, const std::string& name, int index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(fullPath(user, name));
  if (it == files_.end()) return 0;
  auto s = it->second.sends.find(index);
  return s == it->second.sends.end() ? 0 : s->second;
}
std::string FakeNetDiskServer::linkToken(const std::string& user, const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(fullPath(user, name));
  return it == files_.end() ? std::string() : it->second.token;
}
int FakeNetDiskServer::md5Mismatches() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return md5Mismatches_;
}
int FakeNetDiskServer::loginCount(const std::string& user) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = logins_.find(user);
  return it == logins_.end() ? 0 : it->second;
}
int FakeNetDiskServer::lostSessionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lostSessions_;
}
int FakeNetDiskServer::count(const std::string& endpoint) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = counts_.find(endpoint);
  return it == counts_.end() ? 0 : it->second;
}
int FakeNetDiskServer::maxInFlight() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return maxInFlight_;
}
int FakeNetDiskServer::maxFilesInFlight() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return maxFilesInFlight_;
}
std::string FakeNetDiskServer::lastError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastError_;
}

// ---------------------------------------------------------------------------

HttpReply FakeNetDiskServer::refuse(int status, const std::string& why) {
  lastError_ = why;
  return HttpReply(status, why, "text/plain");
}

HttpReply FakeNetDiskServer::lostSession() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++lostSessions_;
  if (lostStatus_ == 302) {
    std::string login = "http://127.0.0.1:" + std::to_string(sso_ ? sso_->port() : 0) +
                        "/casserver/login?service=";
    return HttpReply::redirect(302, login);
  }
  return HttpReply(lostStatus_);
}

bool FakeNetDiskServer::sessionUser(const HttpRequestRecord& request, std::string& user) {
  user = request.queryParam("userId");
  std::string domain = request.queryParam("domainName");
  if (user.empty() || domain.empty() || domainOf(user) != domain) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> cookies = request.headerValues("Cookie");
  for (const std::string& header : cookies) {
    size_t s = 0;
    while (s < header.size()) {
      size_t e = header.find(';', s);
      std::string pair = trim(header.substr(s, e == std::string::npos ? std::string::npos : e - s));
      if (pair.compare(0, 11, "JSESSIONID=") == 0) {
        auto it = sessions_.find(pair.substr(11));
        if (it != sessions_.end() && it->second == user) return true;
      }
      if (e == std::string::npos) break;
      s = e + 1;
    }
  }
  return false;
}

HttpReply FakeNetDiskServer::handle(const HttpRequestRecord& request) {
  std::string path = urlDecode(request.path, false);
  if (path == kSessionPath) return getSession(request);
  if (path.compare(0, std::char_traits<char>::length(kFilePrefix), kFilePrefix) == 0) return serveFile(request);
  std::string root;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    root = root_;
  }
  if (path.compare(0, root.size(), root) != 0) return HttpReply(404);
  std::string op = path.substr(root.size());
  std::string user;
  if (!sessionUser(request, user)) return lostSession();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_[op];
    auto it = scripted_.find(op);
    if (it != scripted_.end() && !it->second.empty()) {
      Scripted& s = it->second.front();
      HttpReply reply = s.reply;
      if (--s.times <= 0) it->second.erase(it->second.begin());
      return reply;
    }
  }
  HttpReply reply(404);
  if (op == STATUS && request.method == "GET") reply = status(user);
  else if (op == LISTING && request.method == "GET") reply = listing(user, request.queryParam("path"));
  else if (op == CREATE && request.method == "POST") reply = create(user, request.body);
  else if (op == UPLOAD && request.method == "POST") reply = upload(user, request);
  else if (op == MERGE && request.method == "POST") reply = merge(user, request.body);
  else if (op == DOWNLOAD && request.method == "POST") reply = download(user, request.body);
  else if (op == REMOVE && request.method == "POST") reply = remove(user, request.body);
  std::lock_guard<std::mutex> lock(mutex_);
  auto lost = lostAnswers_.find(op);
  if (lost != lostAnswers_.end() && !lost->second.empty()) {
    Scripted& s = lost->second.front();
    reply = s.reply;
    if (--s.times <= 0) lost->second.erase(lost->second.begin());
  }
  auto delayed = delayedAnswers_.find(op);
  if (delayed != delayedAnswers_.end() && !delayed->second.empty()) {
    Scripted& s = delayed->second.front();
    reply.delayMs = s.reply.delayMs;
    if (--s.times <= 0) delayed->second.erase(delayed->second.begin());
  }
  reply.closeSilently = reply.closeSilently || dropKept_;
  return reply;
}

HttpReply FakeNetDiskServer::getSession(const HttpRequestRecord& request) {
  std::string ticket = request.queryParam("ticket");
  std::string domain = request.queryParam("domainName");
  std::string user;
  if (sso_ == 0 || ticket.empty() || !sso_->consumeTicket(ticket, "", &user) || domainOf(user) != domain) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_[SESSION];
    return refuse(403, "bad ticket");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ++counts_[SESSION];
  std::string id = "S-" + std::to_string(++serial_);
  sessions_[id] = user;
  ++logins_[user];
  HttpReply reply(200, "{}");
  reply.header("Set-Cookie", "JSESSIONID=" + id + "; Path=/space");
  return reply;
}

HttpReply FakeNetDiskServer::serveFile(const HttpRequestRecord& request) {
  std::string token = urlDecode(request.path, false).substr(std::char_traits<char>::length(kFilePrefix));
  std::string user = request.queryParam("userId");
  std::lock_guard<std::mutex> lock(mutex_);
  ++counts_[GET];
  for (auto& f : files_) {
    if (f.second.token == token && f.second.complete && f.second.owner == user &&
        domainOf(user) == request.queryParam("domainName"))
      return HttpReply(200, readAll(f.second.data), "application/octet-stream");
  }
  return HttpReply(404);
}

std::string FakeNetDiskServer::dateJson() const {
  time_t t = static_cast<time_t>(created_);
  struct tm u = tm();
  gmtime_r(&t, &u);
  json d;
  d["year"] = u.tm_year;
  d["month"] = u.tm_mon;
  d["date"] = u.tm_mday;
  d["hours"] = u.tm_hour;
  d["minutes"] = u.tm_min;
  d["seconds"] = u.tm_sec;
  return d.dump();
}

HttpReply FakeNetDiskServer::status(const std::string& user) {
  std::lock_guard<std::mutex> lock(mutex_);
  double used = 0;
  for (auto& f : files_)
    if (f.second.owner == user) used += static_cast<double>(f.second.size);
  json j;
  j["spaceUsed"] = used;
  j["spaceQuota"] = quota_;
  return HttpReply(200, j.dump(), "application/json");
}

std::string FakeNetDiskServer::folderJson(const std::string& user, const std::string& path) const {
  // Every folder under the user's folder: the added ones and the parents of files.
  std::set<std::string> folders;
  std::string top = "/" + user + "/transit";
  for (auto& f : folders_)
    if (f.second == user) folders.insert(f.first);
  for (auto& f : files_) {
    if (f.second.owner != user) continue;
    for (std::string p = parentOf(f.first); p.size() > top.size(); p = parentOf(p)) folders.insert(p);
  }
  json node;
  node["isFolder"] = true;
  node["path"] = path;
  node["name"] = lastComponent(path);
  node["id"] = "F" + std::to_string(std::hash<std::string>()(path) % 100000);
  node["owner"] = user;
  node["creator"] = user;
  node["txnid"] = 0;
  node["created"] = json::parse(dateJson());
  json children = json::array();
  for (const std::string& sub : folders)
    if (parentOf(sub) == path) children.push_back(json::parse(folderJson(user, sub)));
  for (auto& f : files_) {
    if (f.second.owner != user || parentOf(f.first) != path) continue;
    json file;
    file["isFolder"] = false;
    file["path"] = f.first;
    file["name"] = lastComponent(f.first);
    file["id"] = f.second.token;
    file["owner"] = user;
    file["creator"] = user;
    file["txnid"] = 7;
    file["created"] = json::parse(dateJson());
    switch (listedMd5_) {
      case MD5_OF_CONTENT: file["md5hash"] = f.second.md5; break;
      case MD5_UPPER_CASE: {
        std::string upper = f.second.md5;
        for (char& ch : upper) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
        file["md5hash"] = upper;
        break;
      }
      case MD5_AS_TOLD: file["md5hash"] = f.second.toldMd5; break;
      case MD5_EMPTY: file["md5hash"] = ""; break;
      case MD5_PADDED: file["md5hash"] = " " + f.second.md5; break;
      case MD5_MISSING: break;
    }
    file["size"] = f.second.size;
    file["nocomplete"] = f.second.complete;  // the client reads true as finished
    if (listingLinks_) file["downloadLink"] = "file/get/" + f.second.token;
    children.push_back(file);
  }
  node["children"] = children;
  return node.dump();
}

HttpReply FakeNetDiskServer::listing(const std::string& user, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string top = "/" + user + "/transit";
  if (path != top && path.compare(0, top.size() + 1, top + "/") != 0) return refuse(404, "no such folder");
  return HttpReply(200, folderJson(user, path), "application/json");
}

HttpReply FakeNetDiskServer::create(const std::string& user, const std::string& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  json j;
  if (!parseJsonObject(body, j)) return refuse(400, "create: body is not a JSON object");
  if (!j.contains("path") || !j["path"].is_string() || !j.contains("name") || !j["name"].is_string() ||
      !j.contains("hash") || !j["hash"].is_string() || !j.contains("size") || !j["size"].is_string() ||
      !j.contains("blocktotal") || !j["blocktotal"].is_number_integer())
    return refuse(400, "create: a field is missing or of the wrong type");
  std::string folder = j["path"].get<std::string>();
  std::string name = j["name"].get<std::string>();
  std::string sizeText = j["size"].get<std::string>();
  std::string top = "/" + user + "/transit/";
  if (folder.compare(0, top.size(), top) != 0 && folder + "/" != top) return refuse(400, "create: foreign path");
  if (name.empty() || name.find('/') != std::string::npos) return refuse(400, "create: bad name");
  if (!isDecimal(sizeText)) return refuse(400, "create: size is not a decimal text");
  int64_t size = std::stoll(sizeText);
  int64_t blocks = (size + blockSize_ - 1) / blockSize_;
  if (j["blocktotal"].get<int64_t>() != blocks) return refuse(400, "create: blocktotal does not fit the size");
  std::string full = folder + (folder[folder.size() - 1] == '/' ? "" : "/") + name;
  auto it = files_.find(full);
  if (it != files_.end() && it->second.complete) return refuse(409, "create: the file exists");
  // A second create keeps nothing silently: the unfinished file and its blocks stay.
  if (it != files_.end()) return refuse(409, "create: an unfinished file of that name exists");
  double used = 0;
  for (auto& f : files_)
    if (f.second.owner == user && f.first != full) used += static_cast<double>(f.second.size);
  if (used + static_cast<double>(size) > quota_) return refuse(413, "create: over quota");
  File& f = files_[full];
  f = File();
  f.size = size;
  f.blockTotal = static_cast<int>(blocks);
  f.owner = user;
  f.token = "T" + std::to_string(++serial_);
  f.data = newDataFile();
  {
    int fd = ::open(f.data.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
      if (fd >= 0) ::close(fd);
      files_.erase(full);
      return refuse(500, "create: no room for the file");
    }
    ::close(fd);
  }
  json reply;
  reply["downloadLink"] = "file/get/" + f.token;
  reply["created"] = json::parse(dateJson());
  return HttpReply(200, reply.dump(), "application/json");
}

HttpReply FakeNetDiskServer::upload(const std::string& user, const HttpRequestRecord& request) {
  MultipartUpload part;
  std::string error;
  if (!parseUpload(request.header("Content-Type"), request.body, part, error)) {
    std::lock_guard<std::mutex> lock(mutex_);
    return refuse(400, "upload: " + error);
  }
  json post;
  std::unique_lock<std::mutex> lock(mutex_);
  if (!parseJsonObject(part.txtPost, post)) return refuse(400, "upload: txtPost is not JSON");
  if (!post.contains("filepath") || !post["filepath"].is_string() || !post.contains("blockhash") ||
      !post["blockhash"].is_string() || !post.contains("blockid") || !post["blockid"].is_string() ||
      !post.contains("blocktotal") || !post["blocktotal"].is_number_integer() || !post.contains("offset") ||
      !post["offset"].is_number_unsigned())
    return refuse(400, "upload: a field is missing or of the wrong type");
  std::string full = post["filepath"].get<std::string>();
  std::string hash = post["blockhash"].get<std::string>();
  std::string id = post["blockid"].get<std::string>();
  uint64_t offset = post["offset"].get<uint64_t>();
  auto it = files_.find(full);
  if (it == files_.end() || it->second.owner != user || it->second.complete)
    return refuse(400, "upload: no unmerged file " + full);
  File& f = it->second;
  if (part.fileName != lastComponent(full)) return refuse(400, "upload: filename is not the file's name");
  if (!isDecimal(id)) return refuse(400, "upload: blockid is not a decimal text");
  int64_t index = std::stoll(id);
  if (index < 0 || index >= f.blockTotal) return refuse(400, "upload: blockid out of range");
  if (post["blocktotal"].get<int64_t>() != f.blockTotal) return refuse(400, "upload: wrong blocktotal");
  if (offset != static_cast<uint64_t>(index) * blockSize_) return refuse(400, "upload: wrong offset");
  uint64_t expected = std::min<uint64_t>(blockSize_, static_cast<uint64_t>(f.size) - offset);
  if (part.data.size() != expected) return refuse(400, "upload: wrong blocksize");
  if (!isLowerHex32(hash) || hash != md5Hex(part.data)) {
    ++md5Mismatches_;
    return refuse(400, "upload: blockhash does not match the bytes");
  }
  std::string key = lastComponent(full) + "#" + id;
  auto fault = blockFaults_times_.find(key);
  if (fault != blockFaults_times_.end() && fault->second > 0) {
    --fault->second;
    return HttpReply(blockFaults_status_[key], "{}");
  }

  ++inFlight_;
  maxInFlight_ = std::max(maxInFlight_, inFlight_);
  ++filesInFlight_[full];
  maxFilesInFlight_ = std::max(maxFilesInFlight_, static_cast<int>(filesInFlight_.size()));
  if (hold_) {
    ++held_;
    cv_.notify_all();
    cv_.wait_for(lock, std::chrono::milliseconds(kHoldLimitMs), [&] { return releases_ > 0 || stopping_; });
    if (releases_ > 0) --releases_;
    --held_;
  }
  --inFlight_;
  if (--filesInFlight_[full] == 0) filesInFlight_.erase(full);

  it = files_.find(full);  // a deletion may have come while the block waited
  if (it == files_.end() || it->second.complete || it->second.merging)
    return refuse(404, "upload: the file went away");
  const std::string data = it->second.data;
  const std::string token = it->second.token;
  lock.unlock();
  // The block goes to its place in the data file, without the lock.
  bool written = false;
  int fd = ::open(data.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd >= 0) {
    written = ::pwrite(fd, part.data.data(), part.data.size(), static_cast<off_t>(offset)) ==
              static_cast<ssize_t>(part.data.size());
    ::close(fd);
  }
  lock.lock();
  it = files_.find(full);
  if (it == files_.end() || it->second.token != token || it->second.complete || it->second.merging)
    return refuse(404, "upload: the file went away");
  if (!written) return refuse(500, "upload: the block could not be stored");
  it->second.blocks.insert(static_cast<int>(index));
  ++it->second.sends[static_cast<int>(index)];
  return HttpReply(200, "{}", "application/json");
}

HttpReply FakeNetDiskServer::merge(const std::string& user, const std::string& body) {
  std::unique_lock<std::mutex> lock(mutex_);
  json j;
  if (!parseJsonObject(body, j) || !j.contains("path") || !j["path"].is_string() || !j.contains("md5") ||
      !j["md5"].is_string())
    return refuse(400, "merge: bad body");
  const std::string full = j["path"].get<std::string>();
  auto it = files_.find(full);
  if (it == files_.end() || it->second.owner != user) return refuse(404, "merge: no such file");
  File& f = it->second;
  if (f.complete || f.merging) return refuse(409, "merge: the file is already merged");
  for (int i = 0; i < f.blockTotal; ++i)
    if (f.blocks.count(i) == 0) return refuse(409, "merge: block " + std::to_string(i) + " is missing");
  f.merging = true;
  const std::string data = f.data;
  const std::string token = f.token;
  const int64_t size = f.size;
  lock.unlock();
  // The MD5 of the joined blocks, streamed from the data file without the lock.
  std::string md5;
  int64_t read = 0;
  {
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    int fd = ::open(data.c_str(), O_RDONLY | O_CLOEXEC);
    if (ctx && fd >= 0 && EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) == 1) {
      std::vector<char> buffer(1 << 20);
      ssize_t n;
      while (read < size && (n = ::read(fd, buffer.data(), buffer.size())) > 0) {
        n = static_cast<ssize_t>(std::min<int64_t>(n, size - read));
        EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<size_t>(n));
        read += n;
      }
      unsigned char digest[EVP_MAX_MD_SIZE];
      unsigned int len = 0;
      if (EVP_DigestFinal_ex(ctx.get(), digest, &len) == 1) {
        static const char* digits = "0123456789abcdef";
        for (unsigned int i = 0; i < len; ++i) {
          md5 += digits[digest[i] >> 4];
          md5 += digits[digest[i] & 15];
        }
      }
    }
    if (fd >= 0) ::close(fd);
  }
  lock.lock();
  it = files_.find(full);
  if (it == files_.end() || it->second.token != token) return refuse(404, "merge: the file went away");
  it->second.merging = false;
  if (read != size || md5.empty()) return refuse(500, "merge: the data file could not be read");
  it->second.md5 = md5;
  it->second.toldMd5 = j["md5"].get<std::string>();
  it->second.complete = true;
  return HttpReply(200, "{}");
}

HttpReply FakeNetDiskServer::download(const std::string& user, const std::string& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  json j;
  if (!parseJsonObject(body, j) || !j.contains("path") || !j["path"].is_string())
    return refuse(400, "download: bad body");
  auto it = files_.find(j["path"].get<std::string>());
  if (it == files_.end() || it->second.owner != user) return refuse(404, "download: no such file");
  std::string link = "file/get/" + it->second.token;
  if (linkForm_ == LINK_SLASH) link = "/" + link;
  if (linkForm_ == LINK_CRLF) link += "\r\n";
  return HttpReply(200, link, "text/plain");
}

HttpReply FakeNetDiskServer::remove(const std::string& user, const std::string& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  json j;
  if (!parseJsonObject(body, j) || !j.contains("path")) return refuse(400, "premove: bad body");
  std::vector<std::string> paths;
  if (j["path"].is_string()) {
    paths.push_back(j["path"].get<std::string>());
  } else if (j["path"].is_array()) {
    for (auto& p : j["path"]) {
      if (!p.is_string()) return refuse(400, "premove: a path is not a text");
      paths.push_back(p.get<std::string>());
    }
  } else {
    return refuse(400, "premove: path is neither text nor array");
  }
  for (const std::string& p : paths) {
    auto it = files_.find(p);
    if (it == files_.end() || it->second.owner != user) return refuse(404, "premove: no such file " + p);
  }
  for (const std::string& p : paths) {
    auto it = files_.find(p);
    if (it == files_.end()) continue;  // named twice
    if (!it->second.data.empty()) ::unlink(it->second.data.c_str());
    files_.erase(it);
  }
  return HttpReply(200, "{}");
}

}  // namespace pwtest
