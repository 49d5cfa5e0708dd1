#include "client/NetDiskUploadTask.h"

#include "client/NetDiskClient.h"
#include "client/INetDiskClientListener.h"
#include "client/NetDiskCommands.h"
#include "client/NetDiskEngineThread.h"
#include "client/SyncDb.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"
#include "protocol/SyncProtocol.h"

#include <ace/Message_Block.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

namespace {

void post(NetDiskCommandBase* command) {
  if (NetDiskEngineThread::instance()->postCommand(command) != 0) {
    IM_LOG_ERROR("NetDiskUploadTask, [status = engine refused a result]");
    delete command;
  }
}

int64_t fileLength(FILE* f) {
  if (fseeko(f, 0, SEEK_END) != 0) return -1;
  return static_cast<int64_t>(ftello(f));
}

enum ServerFileState { LISTING_FAILED, ABSENT, UNFINISHED, FINISHED };

// What the server's listing of the user's folder says of the file `name`; `size` is its length
// and `md5` (when given) its listed MD5.
ServerFileState serverFileState(CSyncProtocol& protocol, const std::string& name, int64_t& size,
                                std::string* md5 = 0) {
  NodeTree nodes;
  ServerFileState state = ABSENT;
  if (!protocol.GetFolderInfo("", nodes)) {
    state = LISTING_FAILED;
  } else {
    for (NodeTree::pre_order_iterator it = nodes.begin(); it != nodes.end(); ++it) {
      const CFileInfo* file = dynamic_cast<const CFileInfo*>(*it);
      if (file == 0 || (file->path.empty() ? file->name : file->path) != name) continue;
      state = file->nocomplete ? FINISHED : UNFINISHED;  // the server marks a merged file "nocomplete"
      size = file->size;
      if (md5 != 0) *md5 = file->md5hash;
      break;
    }
  }
  for (NodeTree::pre_order_iterator it = nodes.begin(); it != nodes.end(); ++it) delete *it;
  nodes.clear();
  return state;
}

// A listed MD5 that tells the content: 32 hexadecimal digits, of either case, not all zeros (a
// server may list what a merge request carried, and the client sends 32 zeros there).
bool isMd5Evidence(const std::string& text) {
  if (text.size() != 32 || text.find_first_not_of('0') == std::string::npos) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (!isxdigit(static_cast<unsigned char>(text[i]))) return false;
  return true;
}

bool sameMd5(const std::string& listed, const std::string& local) {
  if (listed.size() != local.size()) return false;
  for (size_t i = 0; i < listed.size(); ++i)
    if (tolower(static_cast<unsigned char>(listed[i])) != tolower(static_cast<unsigned char>(local[i]))) return false;
  return true;
}

enum LocalMd5 { LOCAL_MD5_READ, LOCAL_MD5_UNREADABLE, LOCAL_MD5_STOPPED };

// The MD5 of the whole local file. The reading ends between pieces when the client stops.
LocalMd5 localFileMd5(const std::string& path, std::string& md5) {
  md5.clear();
  FILE* f = fopen(path.c_str(), "rb");
  if (f == 0) return LOCAL_MD5_UNREADABLE;
  int64_t length = fileLength(f);
  bool ok = length >= 0 && fseeko(f, 0, SEEK_SET) == 0;
  if (ok) md5 = FileMd5::compute(f, length, &NetDiskClient::stopRequested);
  ok = ok && !ferror(f) && !md5.empty() && ftello(f) == static_cast<off_t>(length);
  fclose(f);
  if (!ok) md5.clear();
  if (NetDiskClient::stopRequested()) return LOCAL_MD5_STOPPED;
  return ok ? LOCAL_MD5_READ : LOCAL_MD5_UNREADABLE;
}

}  // namespace

std::string FileMd5::toHex(const unsigned char digest[16]) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out(32, '0');
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kDigits[digest[i] >> 4];
    out[2 * i + 1] = kDigits[digest[i] & 0x0F];
  }
  return out;
}

std::string FileMd5::compute(FILE* file, int64_t count, bool (*stopped)()) {
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), 0) != 1) return std::string();
  unsigned char buffer[4096];
  while (file != 0 && count > 0 && !feof(file)) {
    if (stopped != 0 && stopped()) return std::string();
    size_t want = static_cast<size_t>(std::min<int64_t>(count, sizeof(buffer)));
    size_t got = fread(buffer, 1, want, file);
    if (got == 0) break;
    count -= static_cast<int64_t>(got);
    EVP_DigestUpdate(ctx.get(), buffer, got);
  }
  unsigned char digest[EVP_MAX_MD_SIZE] = {0};
  unsigned int n = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &n) != 1 || n != 16) return std::string();
  return toHex(digest);
}

// ---- BlockDigest ----

std::string BlockDigest::add(const std::string& digest, int blockIndex, const std::string& blockMd5) {
  char head[16];
  snprintf(head, sizeof(head), "%d:", blockIndex);
  const std::string text = head + blockMd5;
  unsigned char term[EVP_MAX_MD_SIZE] = {0};
  unsigned int n = 0;
  if (EVP_Digest(text.data(), text.size(), term, &n, EVP_md5(), 0) != 1 || n != 16) return std::string();
  unsigned char sum[16] = {0};
  for (size_t i = 0; i < 16 && 2 * i + 1 < digest.size(); ++i) {
    unsigned int byte = 0;
    if (sscanf(digest.c_str() + 2 * i, "%2x", &byte) != 1) return std::string();
    sum[i] = static_cast<unsigned char>(byte);
  }
  for (int i = 0; i < 16; ++i) sum[i] ^= term[i];
  return FileMd5::toHex(sum);
}

bool BlockDigest::same(const std::string& a, const std::string& b) {
  const std::string zeros(32, '0');
  return (a.empty() ? zeros : a) == (b.empty() ? zeros : b);
}

bool BlockDigest::ofFile(const std::string& path, int64_t length, int blockSize, bool (*stopped)(),
                         std::string& digest) {
  digest.clear();
  if (blockSize <= 0) return false;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == 0) return false;
  bool ok = fileLength(f) == length && fseeko(f, 0, SEEK_SET) == 0;
  for (int64_t offset = 0, index = 0; ok && offset < length; offset += blockSize, ++index) {
    std::string md5 = FileMd5::compute(f, std::min<int64_t>(blockSize, length - offset), stopped);
    ok = !md5.empty() && !ferror(f) && ftello(f) == static_cast<off_t>(std::min<int64_t>(offset + blockSize, length));
    if (ok) digest = add(digest, static_cast<int>(index), md5);
  }
  fclose(f);
  if (!ok) digest.clear();
  return ok;
}

// ---- BlockBuffer ----

namespace {
// Free block buffers, at most kPooledBuffers (enough for the block threads of the uploads at
// once). Guarded by poolLock().
const size_t kPooledBuffers = 16;
std::mutex& poolLock() {
  static std::mutex* m = new std::mutex();
  return *m;
}
std::vector<std::pair<std::unique_ptr<char[]>, size_t> >& pool() {
  static auto* p = new std::vector<std::pair<std::unique_ptr<char[]>, size_t> >();
  return *p;
}
}  // namespace

char* BlockBuffer::reserve(size_t n) {
  size_ = 0;
  if (capacity_ >= n && data_) return data_.get();
  release();
  {
    std::lock_guard<std::mutex> lock(poolLock());
    for (size_t i = 0; i < pool().size(); ++i) {
      if (pool()[i].second < n) continue;
      data_ = std::move(pool()[i].first);
      capacity_ = pool()[i].second;
      pool().erase(pool().begin() + static_cast<long>(i));
      return data_.get();
    }
  }
  data_.reset(new char[n > 0 ? n : 1]);  // uninitialised: the block is read over it
  capacity_ = n;
  return data_.get();
}

void BlockBuffer::release() {
  size_ = 0;
  if (!data_) return;
  std::lock_guard<std::mutex> lock(poolLock());
  if (pool().size() < kPooledBuffers) pool().emplace_back(std::move(data_), capacity_);
  data_.reset();
  capacity_ = 0;
}

// ---- CreateFileTask ----

CreateFileTask::CreateFileTask(const std::string& name, int64_t length, int blockCount)
    : NetDiskTaskBase(0), name_(name), length_(length), blockCount_(blockCount) {
  IM_TRACE("CreateFileTask::CreateFileTask");
}

CreateFileTask::~CreateFileTask() { IM_TRACE("CreateFileTask::~CreateFileTask"); }

void CreateFileTask::execute() {
  IM_TRACE("CreateFileTask::execute");
  IM_LOG_INFO("call createLargeFile,fileName:%s,length:%lld,blockCount:%d.", name_.c_str(),
              static_cast<long long>(length_), blockCount_);
  CSyncProtocol protocol(userId_, password_);
  int ownFile = ownFile_;  // what may be on the server of this upload's own
  if (ownFile_ != OWNFILE_NONE) {
    // An unfinished file of this upload's from before: its blocks are not wanted.
    int64_t size = 0;
    ServerFileState state = serverFileState(protocol, name_, size);
    if (state == UNFINISHED) {
      bool removed = protocol.RemoveByPaths(std::list<std::string>(1, name_));
      if (removed) ownFile = OWNFILE_NONE;
      IM_LOG_INFO("CreateFileTask::execute, [remove unfinished file, fileName = %s, result = %d]", name_.c_str(),
                  removed ? 1 : 0);
    } else if (state != LISTING_FAILED) {
      ownFile = OWNFILE_NONE;  // none of it is there: the name holds another file, or none
      if (state != ABSENT)
        IM_LOG_WARN("CreateFileTask::execute, [status = file kept, fileName = %s, state = finished]", name_.c_str());
    } else {
      IM_LOG_WARN("CreateFileTask::execute, [status = file kept, fileName = %s, state = listing failed]",
                  name_.c_str());
    }
  }
  std::string url, created;
  bool ok = protocol.CreateLargeFile("", name_, length_, "", blockCount_, url, created);
  IM_LOG_INFO("call createLargeFile,result:%d.", ok ? 1 : 0);
  UploadFileStatusCommand* result = new UploadFileStatusCommand(
      requestNumber_, name_, ok ? UploadFileStatusCommand::CREATED : UploadFileStatusCommand::CREATE_FAILED);
  if (ok) {
    result->firstText = created;
    result->secondText = url;
  }
  // A create without an answer proves nothing: the file it may have made is not taken for the
  // upload's own, since the name may hold another client's.
  if (!ok) result->ownFile = ownFile;
  result->setOwnerUserId(userId_);
  post(result);
}

// ---- UploadFileTask ----

UploadFileTask::UploadFileTask(const std::string& name, const std::string& localFile, int blockIndex,
                               int64_t offset, int length, int blockCount)
    : NetDiskTaskBase(0),
      name_(name),
      localFile_(localFile),
      blockIndex_(blockIndex),
      offset_(offset),
      length_(length),
      blockCount_(blockCount),
      reported_(0),
      unreported_(0),
      expectedLength_(0) {
  IM_TRACE("UploadFileTask::UploadFileTask");
}

UploadFileTask::~UploadFileTask() { IM_TRACE("UploadFileTask::~UploadFileTask"); }

void UploadFileTask::postStatus(int kind, const std::string& text, int delta, int error) {
  UploadFileStatusCommand* command = new UploadFileStatusCommand(requestNumber_, name_, kind);
  command->blockIndex = blockIndex_;
  command->delta = delta;
  command->firstText = text;
  command->error = error;
  // Every result names its user, so the engine can tell the previous user's.
  command->setOwnerUserId(userId_);
  post(command);
}

void UploadFileTask::takeBackProgress() {
  if (reported_ > 0) postStatus(UploadFileStatusCommand::BLOCK_PROGRESS, std::string(), -reported_);
  reported_ = 0;
  unreported_ = 0;
}

int UploadFileTask::getBlockMd5(std::string& md5) {
  FILE* f = fopen(localFile_.c_str(), "rb");
  if (f == 0) return -1;
  if (fseeko(f, static_cast<off_t>(offset_), SEEK_SET) != 0) {
    fclose(f);
    return -1;
  }
  const size_t want = static_cast<size_t>(std::max(0, length_));
  char* buffer = block_.reserve(want);
  size_t got = 0;
  while (got < want) {
    size_t n = fread(buffer + got, 1, want - got, f);
    if (n == 0) break;
    got += n;
  }
  fclose(f);
  block_.setSize(got);  // a file that shrank: the length check below stops the block
  unsigned char digest[EVP_MAX_MD_SIZE] = {0};
  unsigned int n = 0;
  if (EVP_Digest(block_.data(), block_.size(), digest, &n, EVP_md5(), 0) != 1 || n != 16) {
    md5.clear();
    return 0;
  }
  md5 = FileMd5::toHex(digest);
  return 0;
}

void UploadFileTask::execute() {
  IM_TRACE("UploadFileTask::execute");
  std::string md5;
  if (getBlockMd5(md5) == -1) {
    IM_LOG_ERROR("UploadFileTask::execute call getBlockMd5 return -1");
    postStatus(UploadFileStatusCommand::BLOCK_FAILED, "localFileAccessError", -reported_, NETDISK_ERR_FILE_UNREADABLE);
    return;
  }
  FILE* file = fopen(localFile_.c_str(), "rb");
  if (file == 0) {
    IM_LOG_ERROR("UploadFileTask::execute open file error");
    postStatus(UploadFileStatusCommand::BLOCK_FAILED, "localFileAccessError", -reported_, NETDISK_ERR_FILE_UNREADABLE);
    return;
  }
  // Checked after the block was read: a file changed before this point cannot slip through
  // (a file rewritten at the same length shows in its modification time).
  std::string mtime;
  bool changed = fileLength(file) != expectedLength_ ||
                 (!expectedMtime_.empty() && (NetDiskClient::getLocalFileMtime(localFile_, mtime) != 0 ||
                                              !NetDiskClient::sameMtime(expectedMtime_, mtime)));
  fclose(file);
  if (changed || static_cast<int>(block_.size()) != length_) {
    IM_LOG_ERROR("UploadFileTask::execute file length modified.");
    postStatus(UploadFileStatusCommand::BLOCK_FAILED, "localFileModify", -reported_, NETDISK_ERR_FILE_CHANGED);
    return;
  }
  std::unique_ptr<CSyncProtocol> protocol(new CSyncProtocol(userId_, password_));
  int retries = 0;
  bool ok = false;
  for (;;) {
    IM_LOG_INFO("UploadFileTask::execute call UpLoadBlockData,blockIndex=%d,md5=%s", blockIndex_, md5.c_str());
    bool retry = false;
    ok = protocol->UpLoadBlockData(this, name_, blockIndex_, blockCount_, static_cast<uint32_t>(length_),
                                   static_cast<uint64_t>(offset_), md5, retry);
    if (ok || !retry) break;
    takeBackProgress();
    ++retries;
    if (retries >= MAX_SENDS || NetDiskClient::stopRequested()) break;
  }
  protocol.reset();
  IM_LOG_INFO("UploadFileTask::execute call UpLoadBlockData result,retryNumber=%d,result =%d", retries, ok ? 1 : 0);
  UploadFileStatusCommand* result = new UploadFileStatusCommand(
      requestNumber_, name_, ok ? UploadFileStatusCommand::BLOCK_STORED : UploadFileStatusCommand::BLOCK_FAILED);
  result->blockIndex = blockIndex_;
  if (ok) result->firstText = md5;  // the engine adds it to the upload's block digest
  result->delta = ok ? unreported_ : -reported_;
  result->setOwnerUserId(userId_);
  post(result);
  block_.release();
}

size_t UploadFileTask::advance(size_t maxLength, const char*& data) {
  size_t at = static_cast<size_t>(reported_ + unreported_);
  size_t want = std::min(at < block_.size() ? block_.size() - at : 0, maxLength);
  if (want == 0) {
    IM_LOG_DEBUG("UploadFileTask::GetUpLoadData .transferLength_ = %d.", reported_ + unreported_);
    return 0;
  }
  data = block_.data() + at;
  unreported_ += static_cast<int>(want);
  while (unreported_ >= PROGRESS_STEP) {
    unreported_ -= PROGRESS_STEP;
    reported_ += PROGRESS_STEP;
    postStatus(UploadFileStatusCommand::BLOCK_PROGRESS, std::string(), PROGRESS_STEP);
  }
  return want;
}

bool UploadFileTask::GetUpLoadData(int maxLength, ACE_Message_Block* block) {
  if (block == 0) return false;
  block->reset();
  const char* data = 0;
  size_t n = advance(std::min(static_cast<size_t>(std::max(0, maxLength)), block->space()), data);
  if (n == 0) return false;
  block->copy(data, n);
  return !NetDiskClient::stopRequested();
}

bool UploadFileTask::GetUpLoadData(size_t maxLength, const char*& data, size_t& length) {
  length = advance(maxLength, data);
  return length > 0 && !NetDiskClient::stopRequested();
}

bool UploadFileTask::RewindUpLoadData() {
  if (static_cast<int>(block_.size()) != length_) return false;
  takeBackProgress();
  return true;
}

// ---- MergeFileTask ----

MergeFileTask::MergeFileTask(const std::string& name) : NetDiskTaskBase(0), name_(name) {
  IM_TRACE("MergeFileTask::MergeFileTask");
}

MergeFileTask::~MergeFileTask() { IM_TRACE("MergeFileTask::~MergeFileTask"); }

void MergeFileTask::execute() {
  IM_TRACE("MergeFileTask::execute");
  int error = verify_ ? verifyLocalFile() : 0;
  if (error == 0) {
    CSyncProtocol protocol(userId_, password_);
    IM_LOG_INFO("MergeFileTask::execute call MegerLargeFileBlock,fileName is:%s", name_.c_str());
    bool ok = protocol.MegerLargeFileBlock(name_, std::string(32, '0'));
    IM_LOG_INFO("MergeFileTask::execute MegerLargeFileBlock result is:%d", ok ? 1 : 0);
    // Merged already (and the answer of it was lost)? The listing tells.
    if (!ok) error = NetDiskClient::stopRequested() ? NETDISK_ERR_MERGE_FAILED : confirmRefused(protocol);
  }
  UploadFileStatusCommand* result = new UploadFileStatusCommand(
      requestNumber_, name_, error == 0 ? UploadFileStatusCommand::MERGED : UploadFileStatusCommand::MERGE_FAILED);
  result->error = error;
  result->setOwnerUserId(userId_);
  post(result);
}

int MergeFileTask::verifyLocalFile() {
  IM_LOG_INFO("MergeFileTask::execute, [status = reading the local file again, fileName = %s]", name_.c_str());
  std::string digest;
  if (BlockDigest::ofFile(localFile_, expectedLength_, blockSize_, &NetDiskClient::stopRequested, digest) &&
      BlockDigest::same(digest, digest_))
    return 0;
  if (NetDiskClient::stopRequested()) {
    // Not finished: the record still says created with every block confirmed, so Start checks
    // and merges again.
    IM_LOG_INFO("MergeFileTask::execute, [status = check of the local file stopped, fileName = %s]", name_.c_str());
    return NETDISK_ERR_MERGE_FAILED;
  }
  IM_LOG_WARN("MergeFileTask::execute, [status = local file changed since its blocks were sent, not merged, "
              "fileName = %s, localFile = %s]",
              name_.c_str(), localFile_.c_str());
  return NETDISK_ERR_FILE_CHANGED;
}

int MergeFileTask::confirmRefused(CSyncProtocol& protocol) {
  int64_t size = -1;
  std::string listed, local;
  // Only a finished file at this upload's length can be this upload's.
  if (serverFileState(protocol, name_, size, &listed) != FINISHED || size != expectedLength_)
    return NETDISK_ERR_MERGE_FAILED;
  if (isMd5Evidence(listed)) {
    LocalMd5 read = localFileMd5(localFile_, local);
    if (read == LOCAL_MD5_STOPPED) return NETDISK_ERR_MERGE_FAILED;
    if (read == LOCAL_MD5_READ && !sameMd5(listed, local)) {
      // A file of other content that this upload did not merge is someone's: it stays.
      IM_LOG_WARN("MergeFileTask::execute, [status = listed file differs from the local file, fileName = %s, "
                  "listed md5 = %s, local md5 = %s]",
                  name_.c_str(), listed.c_str(), local.c_str());
      return NETDISK_ERR_MERGE_FAILED;
    }
  }
  IM_LOG_WARN("MergeFileTask::execute, [status = merge refused, file listed finished, fileName = %s]", name_.c_str());
  return 0;
}

// ---- DeleteFileTask ----

DeleteFileTask::DeleteFileTask(const std::string& path, const std::string& tag)
    : NetDiskTaskBase(-1), path_(path), tag_(tag) {
  IM_TRACE("DeleteFileTask::DeleteFileTask");
}

DeleteFileTask::~DeleteFileTask() { IM_TRACE("DeleteFileTask::~DeleteFileTask"); }

void DeleteFileTask::execute() {
  IM_TRACE("DeleteFileTask::execute");
  CSyncProtocol protocol(userId_, password_);
  std::list<std::string> paths(1, path_);
  bool ok = protocol.RemoveByPaths(paths);
  DeleteFileResultCommand* result = new DeleteFileResultCommand(path_, tag_, ok ? 0 : NETDISK_ERR_DELETE_FAILED);
  result->setOwnerUserId(userId_);
  post(result);
}
