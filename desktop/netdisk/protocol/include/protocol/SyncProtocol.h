// The seven net-disk operations the net-disk tasks use. Each builds its
// request and response, hands them to a transport and reports success as a
// boolean with its outputs; on failure the result code is kept as the last
// status (200 success, 1 exchange failed, 2 body not decodable, 3 status 403
// or failed login, else the mapped HTTP status).
//
// Thread rule: a CSyncProtocol is built, used and deleted by one thread (a
// task step). It owns its user id, password and root folder, so operations of
// different users may run at once on different threads.
#pragma once

#include "protocol/NPMP_Response.h"
#include "protocol/SyncProtocolClient.h"

#include <cstdint>
#include <list>
#include <string>

class CSyncProtocol {
 public:
  // userId is the full sign-in name ("user@domain").
  CSyncProtocol(const std::string& userId, const std::string& password);

  // Lists the folder (relative; "" for the user's root folder) into `nodes`.
  bool GetFolderInfo(const std::string& folder, NodeTree& nodes);
  bool GetSpaceInfo(double& used, double& quota);
  // The full download URL of a file of the user's root folder.
  bool getDownloadLinks(const std::string& name, std::string& url);
  // Deletes the relative paths, in list order.
  bool RemoveByPaths(const std::list<std::string>& paths);
  // Creates a large file in the folder (relative; "" for the root); gives its
  // download URL and creation day.
  bool CreateLargeFile(const std::string& folder, const std::string& name, int64_t size,
                       const std::string& hash, int blockTotal, std::string& url,
                       std::string& created);
  // Sends one block, pulling its bytes from `task`. `retry` is true on
  // failure when the result was 500, 413 or 1.
  bool UpLoadBlockData(CSyncProtocolObserver* task, const std::string& name, int blockIndex,
                       int blockTotal, uint32_t blockSize, uint64_t offset,
                       const std::string& md5, bool& retry);
  bool MegerLargeFileBlock(const std::string& name, const std::string& md5);

  int getLastStatus() const { return lastStatus_; }
  const std::string& getUserId() const { return userId_; }
  const std::string& getDomain() const { return domain_; }
  const std::string& getSpaceServer() const { return spaceServer_; }
  // "/" + user id + "/transit/".
  const std::string& getRootFolder() const { return rootFolder_; }

 private:
  bool ready() const { return !userId_.empty() && !domain_.empty(); }
  int call(int kind, NPMP_Request& request, NPMP_Response& response,
           CSyncProtocolObserver* task = 0);

  std::string userId_;
  std::string password_;
  std::string domain_;
  std::string spaceServer_;  // VASTO/spaceServer, "host:port"
  std::string ssoServer_;    // SSO/server
  int lastStatus_;
  std::string rootFolder_;
};
