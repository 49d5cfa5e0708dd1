// A fake net-disk server on 127.0.0.1 for tests, built on LoopbackHttpServer.
// Sessions come from tickets of a FakeSsoServer:
//   GET /space/rest/sso/getSession?domainName=D&ticket=ST-n
//       a ticket issued for a user of domain D and not used yet -> 200 and
//       Set-Cookie JSESSIONID=S-<n>; Path=/space (several live sessions per user).
// Every request under the root (default "/space/rest/server/") must carry a
// live session of the query's userId, whose domain is domainName; otherwise it
// gets the lost-session answer (default 302 to the single sign-on login).
//   GET  user/services/status          -> {"spaceUsed","spaceQuota"}
//   GET  folder/childfolderAndFiles    -> the folder tree ("nocomplete" true for merged files)
//   POST file/createLargeFile          {"blocktotal","hash","name","path","size" (text)};
//                                      409 when a file of that name exists, merged or not
//                                      (its stored blocks stay)
//   POST file/uploadBlock              multipart/form-data: txtPost JSON + txtFile bytes,
//                                      parsed exactly; the block's MD5 is checked
//   POST file/megerLargeFileBlock      {"md5","path"}: the blocks, in index order, become the
//                                      file, whose MD5 is taken by streaming it; 409 when a
//                                      block is missing or the file is already merged
//   POST file/download                 {"path"} -> the relative link as text
//   POST file/premove                  {"path": text or array}
//   GET  /space/file/get/<token>?...   -> the merged file's bytes
// JSON bodies are read raw, whatever their Content-Type.
//
// Blocks and files live on disk, in a folder of the server's own under the temporary folder
// (removed with the server): each file's bytes in one data file, each block written at its
// offset, so nothing of an upload is held in memory.
//
// Thread rule: every public method may be called from any thread; handlers
// run on the connections' threads and take mutex_ for the shared state (never
// while holding a block).
#pragma once

#include "testing/FakeSsoServer.h"
#include "testing/LoopbackHttpServer.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace pwtest {

// The upload body as the fake reads it.
struct MultipartUpload {
  std::string boundary;      // without quotes
  std::string postHeaders;   // the txtPost part's header lines, unfolded, CRLF-joined
  std::string txtPost;       // the JSON text
  std::string fileHeaders;   // the txtFile part's header lines, unfolded
  std::string fileName;      // filename of the txtFile part
  std::string data;          // the block's bytes
};

class FakeNetDiskServer {
 public:
  static const uint32_t DEFAULT_BLOCK_SIZE = 524288;

  // Endpoint names for faults and counts.
  static const char* const STATUS;      // "user/services/status"
  static const char* const LISTING;     // "folder/childfolderAndFiles"
  static const char* const CREATE;      // "file/createLargeFile"
  static const char* const UPLOAD;      // "file/uploadBlock"
  static const char* const MERGE;       // "file/megerLargeFileBlock"
  static const char* const DOWNLOAD;    // "file/download"
  static const char* const REMOVE;      // "file/premove"
  static const char* const SESSION;     // "getSession"
  static const char* const GET;         // "file/get"

  enum LinkForm { LINK_PLAIN, LINK_SLASH, LINK_CRLF };  // "file/get/t", "/file/get/t", "file/get/t\r\n"

  // `sso` issues the tickets that getSession consumes (not owned; must
  // outlive this server).
  explicit FakeNetDiskServer(FakeSsoServer* sso);
  ~FakeNetDiskServer();

  bool isListening() const { return http_.isListening(); }
  unsigned short port() const { return http_.port(); }
  std::string hostPort() const { return http_.hostPort(); }
  LoopbackHttpServer& http() { return http_; }

  // Settings.
  void setRoot(const std::string& root);        // default "/space/rest/server/"
  void setBlockSize(uint32_t size);             // block length the uploads must use
  void setQuota(double bytes);                  // default 1 GiB
  void setLostSessionStatus(int status);        // default 302
  void setLinkForm(LinkForm form);
  void setCreated(int64_t unixTime);            // the creation time the server reports
  void setListingLinks(bool on);                // listings carry "downloadLink" (default true)
  void setDropKeptConnections(bool on);         // close each connection after its answer, unannounced
  // What a listing gives as a file's "md5hash". Servers differ: some hash what they stored,
  // some store the "md5" the merge request carried (the client sends 32 zeros there).
  enum ListedMd5 {
    MD5_OF_CONTENT,   // the MD5 of the file's bytes, lower case (default)
    MD5_UPPER_CASE,   // the same in upper case
    MD5_AS_TOLD,      // what the file's merge request carried ("" for a file put there)
    MD5_EMPTY,        // ""
    MD5_PADDED,       // the content's MD5 with a blank before it
    MD5_MISSING       // no "md5hash" member at all
  };
  void setListedMd5(ListedMd5 form);

  // Faults. The next `times` requests of the endpoint that passed the session
  // check get `reply` in place of the normal answer (the request is not acted on).
  void failNext(const std::string& endpoint, const HttpReply& reply, int times = 1);
  void failNext(const std::string& endpoint, int status, int times = 1);
  // The next `times` requests of the endpoint are acted on as usual, then answered with
  // `status` (an answer lost on its way: the client cannot tell that the work was done).
  void loseAnswer(const std::string& endpoint, int status, int times = 1);
  // The next `times` requests of the endpoint are acted on as usual and answered after `delayMs`.
  void delayAnswer(const std::string& endpoint, int delayMs, int times = 1);
  // The next `times` uploads of that block get `status` (not stored).
  void failBlock(const std::string& name, int index, int status, int times = 1);
  // Ends every session: the next request of each user gets the lost-session answer.
  void expireSessions();
  // While held, each valid block waits after its body was read until release.
  void holdUploads(bool hold);
  void release(int count);
  bool waitHeld(int count, int timeoutMs) const;  // until `count` blocks wait

  // Seeding: a complete file or an empty folder (paths relative to the user's
  // "/<user>/transit/").
  void putFile(const std::string& user, const std::string& relPath, const std::string& bytes);
  void addFolder(const std::string& user, const std::string& relPath);
  // A finished file that only the listing shows (no bytes are kept): any size, the MD5 given;
  // with `finished` false an unfinished one that takes no blocks.
  void putListedFile(const std::string& user, const std::string& relPath, int64_t size, const std::string& md5,
                     bool finished = true);
  // An unfinished file that another client of the user created, holding its first
  // `storedBlocks` blocks of `bytes` (as a create and that many block uploads would leave it).
  void putUnfinishedFile(const std::string& user, const std::string& relPath, const std::string& bytes,
                         int storedBlocks);
  // Removes a file as a deletion would (no request needed).
  void removeFile(const std::string& user, const std::string& relPath);

  // Inspection. Names are relative to "/<user>/transit/".
  bool hasFile(const std::string& user, const std::string& name) const;
  bool isComplete(const std::string& user, const std::string& name) const;
  std::string fileBytes(const std::string& user, const std::string& name) const;
  std::string fileMd5(const std::string& user, const std::string& name) const;
  std::vector<int> blocksReceived(const std::string& user, const std::string& name) const;
  int sends(const std::string& user, const std::string& name, int index) const;
  std::string linkToken(const std::string& user, const std::string& name) const;
  int md5Mismatches() const;
  int loginCount(const std::string& user) const;      // sessions granted
  int lostSessionCount() const;                       // lost-session answers given
  int count(const std::string& endpoint) const;       // requests that reached the endpoint
  int maxInFlight() const;                            // block uploads at once
  int maxFilesInFlight() const;                       // distinct files with a block in flight
  // The last error the server found in a request ("" when none).
  std::string lastError() const;
  std::vector<HttpRequestRecord> requests() const { return http_.requests(); }

  // The multipart parser the upload endpoint uses; false with `error` set
  // when the body is not exactly head, part headers, blocksize bytes and the
  // closing delimiter.
  static bool parseUpload(const std::string& contentType, const std::string& body,
                          MultipartUpload& out, std::string& error);
  static std::string md5Hex(const std::string& bytes);

 private:
  FakeNetDiskServer(const FakeNetDiskServer&);
  FakeNetDiskServer& operator=(const FakeNetDiskServer&);

  struct File {
    int64_t size = 0;
    int blockTotal = 0;
    std::set<int> blocks;  // stored block indexes
    std::map<int, int> sends;
    bool complete = false;
    bool merging = false;
    std::string data;  // the data file: blocks at their offsets, then the merged file
    std::string md5;
    std::string toldMd5;  // the "md5" of its merge request
    std::string token;
    std::string owner;
  };
  struct Scripted {
    HttpReply reply;
    int times;
  };

  HttpReply handle(const HttpRequestRecord& request);
  HttpReply getSession(const HttpRequestRecord& request);
  HttpReply serveFile(const HttpRequestRecord& request);
  HttpReply status(const std::string& user);
  HttpReply listing(const std::string& user, const std::string& path);
  HttpReply create(const std::string& user, const std::string& body);
  HttpReply upload(const std::string& user, const HttpRequestRecord& request);
  HttpReply merge(const std::string& user, const std::string& body);
  HttpReply download(const std::string& user, const std::string& body);
  HttpReply remove(const std::string& user, const std::string& body);
  bool sessionUser(const HttpRequestRecord& request, std::string& user);
  HttpReply lostSession();
  HttpReply refuse(int status, const std::string& why);  // mutex_ held
  std::string folderJson(const std::string& user, const std::string& path) const;  // mutex_ held
  std::string dateJson() const;                                                      // mutex_ held
  static std::string fullPath(const std::string& user, const std::string& name);
  std::string newDataFile();  // mutex_ held
  // A fresh file of `size` bytes for seeding (its data file holds `bytes` when given). mutex_ held.
  File& seedFile(const std::string& user, const std::string& relPath, int64_t size, const std::string* bytes);
  static std::string readAll(const std::string& path);

  FakeSsoServer* sso_;
  mutable std::mutex mutex_;                // guards every member below
  mutable std::condition_variable cv_;      // holds and their releases
  std::string root_;
  uint32_t blockSize_;
  double quota_;
  int lostStatus_;
  LinkForm linkForm_;
  int64_t created_;
  std::map<std::string, std::string> sessions_;   // JSESSIONID -> user
  std::map<std::string, int> logins_;
  std::map<std::string, File> files_;              // full path -> file
  std::map<std::string, std::string> folders_;     // full path (no trailing "/") -> owner
  std::map<std::string, std::vector<Scripted> > scripted_;
  std::map<std::string, std::vector<Scripted> > lostAnswers_;
  std::map<std::string, std::vector<Scripted> > delayedAnswers_;  // reply.delayMs is the delay
  ListedMd5 listedMd5_ = MD5_OF_CONTENT;
  bool dropKept_ = false;
  std::map<std::string, int> blockFaults_times_;   // "name#index" -> times
  std::map<std::string, int> blockFaults_status_;
  std::map<std::string, int> counts_;
  bool hold_;
  int releases_;
  int held_;
  bool stopping_;
  int md5Mismatches_;
  int lostSessions_;
  int inFlight_;
  int maxInFlight_;
  std::map<std::string, int> filesInFlight_;
  int maxFilesInFlight_;
  int serial_;
  std::string lastError_;
  bool listingLinks_;
  std::string folder_;  // where the data files live

  LoopbackHttpServer http_;  // last: its threads stop before the state above goes
};

}  // namespace pwtest
