// Responses of the net-disk protocol: each reads the status and reason of an
// HTTPResponse and, for 200 or 204, parses the body into its fields.
// CNodeInfo and CFileInfo are the folder and file nodes of a listing.
//
// Thread rule: a response is decoded and read by one thread at a time (the
// task that owns it). formatDate and makeDownloadUrl are pure; any thread.
#pragma once

#include "corvane/tree.h"
#include "json/JSON.h"

#include <cstdint>
#include <string>

class ACE_Message_Block;
namespace http {
class HTTPResponse;
}
using http::HTTPResponse;

// A listed folder. Texts are the program's narrow text (GBK), converted from
// the server's UTF-8.
class CNodeInfo {
 public:
  CNodeInfo() : isFolder(true), txnid(0) {}
  virtual ~CNodeInfo() {}

  bool isFolder;
  std::string path;  // relative to the user's root folder ("" for the root itself)
  int txnid;
  std::string id;
  std::string name;
  std::string owner;
  std::string creator;
  std::string created;  // day text, see NPMP_Response::formatDate
};

// A listed file.
class CFileInfo : public CNodeInfo {
 public:
  CFileInfo() : size(0), nocomplete(false) { isFolder = false; }

  std::string md5hash;
  int64_t size;
  bool nocomplete;           // as the server marks it; the client reads true as finished
  std::string downloadLink;  // full URL, "" when the server gives no link
};

typedef tree<CNodeInfo*> NodeTree;

class NPMP_Response {
 public:
  NPMP_Response();
  virtual ~NPMP_Response();

  // Status and reason of the answer; for 200 or 204 the body is parsed.
  // 0 on success or when no body is read (another status); -1 when the body
  // cannot be parsed or a body the type needs is missing.
  virtual int decode(HTTPResponse& response);
  // The body of a 200 or 204 answer; 0 or -1. The base accepts anything.
  virtual int decodeBody(ACE_Message_Block* body);

  int getStatus() const { return status_; }
  const std::string& getReason() const { return reason_; }

  // The day text ("%Y-%m-%d") of a server date object {"year" (since 1900),
  // "month" (0-11), "date", "hours", "minutes", "seconds"}: local midnight of
  // that day plus 16 days, taken in UTC. "" for null or a non-object.
  static std::string formatDate(const Json::JSONValue& date);
  // "http://" + server + "/space/" + link (one "/" between) + "?domainName=" +
  // domain + "&userId=" + userId, both URL-encoded ("&" in place of "?" when
  // the link has a query). A trailing CR LF of the link is dropped. "" when
  // any input is empty.
  static std::string makeDownloadUrl(const std::string& userId, const std::string& server,
                                     const std::string& domain, const std::string& link);

 protected:
  // True for the types whose fields come from the body: a 200 without a
  // body is then a decode failure.
  virtual bool needsBody() const { return false; }
  // The type's log line for a body that does not parse.
  virtual const char* failureLine() const { return 0; }
  // Parses the body as a JSON object into json_.
  int decodeJson(ACE_Message_Block* body);

  int status_;
  std::string reason_;
  Json::JSONObject json_;
};

// Merge, delete and block upload: the body is not read.
class NPMP_CommonResp : public NPMP_Response {
 public:
  static NPMP_CommonResp* create();
};

class NPMP_CreateFileResp : public NPMP_Response {
 public:
  static NPMP_CreateFileResp* create();
  int decodeBody(ACE_Message_Block* body) override;
  std::string getDownloadLink() const;  // relative, as the server gives it
  std::string getCreated() const;       // day text of "created"

 protected:
  bool needsBody() const override { return true; }
  const char* failureLine() const override;
};

// The body is the link itself, as plain text.
class NPMP_GetDownLoadLinkResp : public NPMP_Response {
 public:
  static NPMP_GetDownLoadLinkResp* create();
  int decodeBody(ACE_Message_Block* body) override;
  const std::string& getDownloadLink() const { return link_; }

 protected:
  bool needsBody() const override { return true; }
  const char* failureLine() const override;

 private:
  std::string link_;
};

class NPMP_GetSpaceInfoResp : public NPMP_Response {
 public:
  static NPMP_GetSpaceInfoResp* create();
  int decodeBody(ACE_Message_Block* body) override;
  double getSpaceUsed() const;
  double getSpaceQuota() const;

 protected:
  bool needsBody() const override { return true; }
  const char* failureLine() const override;
};

class NPMP_GetFolderInfoResp : public NPMP_Response {
 public:
  static NPMP_GetFolderInfoResp* create();
  int decodeBody(ACE_Message_Block* body) override;

  // For the download URLs and the relative paths of the listed nodes; set
  // before buildTree.
  void setServer(const std::string& server) { server_ = server; }
  void setDomain(const std::string& domain) { domain_ = domain; }
  void setUserId(const std::string& userId) { userId_ = userId; }
  void setRootFolder(const std::string& root) { rootFolder_ = root; }

  // True when the body's top object is a folder ("isFolder" true), as the answer of every
  // listing is; anything else (an empty object, a file, an object of other fields) lists
  // nothing and is no folder, not even an empty one.
  bool isFolder() const;

  // Appends the parsed nodes to `nodes`: the top folder as a top-level node,
  // every child as the last child of its parent, depth first in server
  // order. The caller owns the records (deletes them when it clears the
  // tree). Returns the number of nodes appended.
  int buildTree(NodeTree& nodes) const;

 protected:
  bool needsBody() const override { return true; }
  const char* failureLine() const override;

 private:
  CNodeInfo* parseNode(const Json::JSONValue& value) const;
  void walkChildren(const Json::JSONValue& children, NodeTree& nodes,
                    const NodeTree::iterator_base& parent, int& count) const;
  std::string relativePath(const std::string& path) const;

  std::string server_;
  std::string domain_;
  std::string userId_;
  std::string rootFolder_;
};
