// Requests of the net-disk protocol. Each request knows its method, its
// operation path under the protocol root (VASTO/wwwRoot, default
// "/space/rest/server/"), its query elements and its JSON body parameters, and
// writes itself into an HTTPRequest.
//
// Thread rule: a request is built, filled and encoded by one thread at a time
// (the task that owns it); distinct requests may be used on distinct threads.
// The protocol root is read from the configuration into each request when it
// is constructed, so no state is shared between requests.
#pragma once

#include "json/JSON.h"

#include <cstdint>
#include <list>
#include <map>
#include <string>

namespace http {
class HTTPRequest;
}
using http::HTTPRequest;

class NPMP_Request {
 public:
  typedef std::map<std::string, std::list<Json::JSONValue> > ParamMap;
  typedef std::map<std::string, std::string> UriElementMap;

  static const char* const DEFAULT_ROOT;  // "/space/rest/server/"

  NPMP_Request();
  virtual ~NPMP_Request();

  // Common encoding: version, keep-alive, content type, Accept, ajaxRequest,
  // User-Agent, the JSON body and its length. The typed requests set method
  // and URI first, then call this.
  virtual void encode(HTTPRequest& request);

  // Appends a value to the parameter's list; an empty name adds nothing.
  void addParameter(const std::string& name, const Json::JSONValue& value);
  // Inserts or replaces one query element.
  void setUriElement(const std::string& name, const std::string& value);

  // path + "?" + the elements in name order, values URL-encoded ("" for an
  // empty path; the path alone when there are no elements).
  std::string AppendUriElements(const std::string& path) const;
  // The parameters as one JSON object: one value under its name, several as
  // an array in the order they were added.
  void paramsEncode(Json::JSONObject& out) const;

  // Every request carries the user's domain and full user id in its query.
  void setDomainName(const std::string& domain) { setUriElement("domainName", domain); }
  void setUserId(const std::string& userId) { setUriElement("userId", userId); }

  const std::string& getRoot() const { return root_; }
  const ParamMap& getParameters() const { return params_; }
  const UriElementMap& getUriElements() const { return uriElements_; }

  // The configured root with a trailing "/".
  static std::string configuredRoot();

 protected:
  // Method and URI = AppendUriElements(root + operationPath), then encode().
  void encodeTyped(HTTPRequest& request, const std::string& method, const std::string& operationPath);

  std::string root_;
  ParamMap params_;
  UriElementMap uriElements_;
};

// POST file/createLargeFile {"blocktotal","hash","name","path","size"}.
class NPMP_CreateFileReq : public NPMP_Request {
 public:
  static NPMP_CreateFileReq* create();
  void encode(HTTPRequest& request) override;
  void setPath(const std::string& path) { addParameter("path", path); }
  void setName(const std::string& name) { addParameter("name", name); }
  void setHash(const std::string& hash) { addParameter("hash", hash); }
  // Sent as the decimal text of the size (a JSON string), 64-bit.
  void setSize(int64_t size);
  void setBlockTotal(int blockTotal) { addParameter("blocktotal", blockTotal); }
};

// POST file/premove {"path": one path, or an array of several}.
class NPMP_DeleteReq : public NPMP_Request {
 public:
  static NPMP_DeleteReq* create();
  void encode(HTTPRequest& request) override;
  // Each call adds one path.
  void setPath(const std::string& path) { addParameter("path", path); }
};

// POST file/download {"path"}; the answer is the link as plain text.
class NPMP_GetDownLoadLinkReq : public NPMP_Request {
 public:
  static NPMP_GetDownLoadLinkReq* create();
  void encode(HTTPRequest& request) override;
  void setPath(const std::string& path) { addParameter("path", path); }
};

// GET folder/childfolderAndFiles?depth=100000000&domainName&path&userId.
class NPMP_GetFolderInfoReq : public NPMP_Request {
 public:
  static NPMP_GetFolderInfoReq* create();
  NPMP_GetFolderInfoReq();
  void encode(HTTPRequest& request) override;
  void setPath(const std::string& path) { setUriElement("path", path); }
};

// GET user/services/status?domainName&serviceType&userId.
class NPMP_GetSpaceInfoReq : public NPMP_Request {
 public:
  static NPMP_GetSpaceInfoReq* create();
  void encode(HTTPRequest& request) override;
  void setServiceType(const std::string& type) { setUriElement("serviceType", type); }
};

// POST file/megerLargeFileBlock {"md5","path"}.
class NPMP_MegerLargeFileReq : public NPMP_Request {
 public:
  static NPMP_MegerLargeFileReq* create();
  void encode(HTTPRequest& request) override;
  void setPath(const std::string& path) { addParameter("path", path); }
  void setMd5(const std::string& md5) { addParameter("md5", md5); }
};

// POST file/uploadBlock as multipart/form-data: a "txtPost" part with the
// JSON parameters and a "txtFile" part whose bytes the upload transport
// streams after the body that encode sets, followed by the closing delimiter.
class NPMP_UploadFileReq : public NPMP_Request {
 public:
  static NPMP_UploadFileReq* create();
  NPMP_UploadFileReq();
  void encode(HTTPRequest& request) override;

  // Also sets the file name: the last "/"-separated component.
  void setFilePath(const std::string& path);
  void setBlockHash(const std::string& md5) { addParameter("blockhash", md5); }
  void setOffset(uint64_t offset) { addParameter("offset", static_cast<unsigned long long>(offset)); }
  // Sent as the decimal text of the index (a JSON string).
  void setBlockId(int index);
  void setBlockTotal(int blockTotal) { addParameter("blocktotal", blockTotal); }
  void setBlockSize(uint32_t size);
  void setOperationPath(const std::string& path) { operationPath_ = path; }

  const std::string& getFileName() const { return fileName_; }
  const std::string& getOperationPath() const { return operationPath_; }
  uint32_t getBlockSize() const { return blockSize_; }
  // Produced by encode: "\r\n--" + boundary + "--\r\n", sent after the block.
  const std::string& getClosingDelimiter() const { return closingDelimiter_; }

 private:
  std::string fileName_;
  std::string operationPath_;
  uint32_t blockSize_;
  std::string closingDelimiter_;
};
