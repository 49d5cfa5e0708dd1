#include "protocol/SyncProtocol.h"

#include "log/IM_LogManager.h"
#include "protocol/NPMP_Request.h"
#include "util/CodingTransform.h"
#include "util/Config.h"
#include "util/StringParser.h"

#include <vector>

namespace {

std::string utf8(const std::string& text) { return CodingTransform::gb2312_to_utf8(text); }

}  // namespace

CSyncProtocol::CSyncProtocol(const std::string& userId, const std::string& password)
    : userId_(userId), password_(password), lastStatus_(200) {
  std::vector<std::string> pieces;
  StringParser::tokenize(userId, "@", pieces);
  if (pieces.size() > 1) domain_ = pieces[1];
  spaceServer_ = Config::instance()->getStrValue("VASTO", "spaceServer", "");
  ssoServer_ = Config::instance()->getStrValue("SSO", "server", "");
  rootFolder_ = "/" + userId + "/transit/";
}

int CSyncProtocol::call(int kind, NPMP_Request& request, NPMP_Response& response,
                        CSyncProtocolObserver* task) {
  Sptr<CSyncProtocolClient> transport(
      CSyncProtocolClient::create(kind, spaceServer_, ssoServer_, userId_, password_, task));
  if (!transport) return CSyncProtocolClient::RESULT_CALL_FAIL;
  request.setDomainName(domain_);
  request.setUserId(userId_);
  return CSyncProtocolClient::call(*transport, request, response);
}

bool CSyncProtocol::GetFolderInfo(const std::string& folder, NodeTree& nodes) {
  if (!ready()) return false;
  Sptr<NPMP_GetFolderInfoReq> request(NPMP_GetFolderInfoReq::create());
  Sptr<NPMP_GetFolderInfoResp> response(NPMP_GetFolderInfoResp::create());
  if (!request || !response) return false;
  std::string path = folder.empty() ? rootFolder_.substr(0, rootFolder_.size() - 1) : rootFolder_ + folder;
  request->setPath(utf8(path));
  int result = call(CSyncProtocolClient::PLAIN, *request, *response);
  if (result != 200) {
    lastStatus_ = result;
    IM_LOG_ERROR("GetFolderInfo errorcode is %d, path is %s", result, path.c_str());
    return false;
  }
  if (!response->isFolder()) {
    // A listing that names no folder says nothing of the files: it is no empty folder.
    lastStatus_ = CSyncProtocolClient::RESULT_DECODE_FAIL;
    IM_LOG_ERROR("GetFolderInfo, [status = the answer holds no folder, path = %s]", path.c_str());
    return false;
  }
  response->setServer(spaceServer_);
  response->setDomain(domain_);
  response->setUserId(userId_);
  response->setRootFolder(rootFolder_);
  response->buildTree(nodes);
  return true;
}

bool CSyncProtocol::GetSpaceInfo(double& used, double& quota) {
  if (!ready()) return false;
  Sptr<NPMP_GetSpaceInfoReq> request(NPMP_GetSpaceInfoReq::create());
  Sptr<NPMP_GetSpaceInfoResp> response(NPMP_GetSpaceInfoResp::create());
  if (!request || !response) return false;
  request->setServiceType("transit");
  int result = call(CSyncProtocolClient::PLAIN, *request, *response);
  if (result != 200) {
    lastStatus_ = result;
    IM_LOG_ERROR("GetSpaceInfo errorcode is %d", result);
    return false;
  }
  used = response->getSpaceUsed();
  quota = response->getSpaceQuota();
  return true;
}

bool CSyncProtocol::getDownloadLinks(const std::string& name, std::string& url) {
  if (!ready() || name.empty()) return false;
  Sptr<NPMP_GetDownLoadLinkReq> request(NPMP_GetDownLoadLinkReq::create());
  Sptr<NPMP_GetDownLoadLinkResp> response(NPMP_GetDownLoadLinkResp::create());
  if (!request || !response) return false;
  request->setPath(utf8(rootFolder_ + name));
  int result = call(CSyncProtocolClient::PLAIN, *request, *response);
  if (result != 200) {
    lastStatus_ = result;
    IM_LOG_ERROR("getDownloadLinks errorcode is %d", result);
    return false;
  }
  url = NPMP_Response::makeDownloadUrl(userId_, spaceServer_, domain_, response->getDownloadLink());
  return true;
}

bool CSyncProtocol::RemoveByPaths(const std::list<std::string>& paths) {
  if (!ready() || paths.empty()) return false;
  Sptr<NPMP_DeleteReq> request(NPMP_DeleteReq::create());
  Sptr<NPMP_CommonResp> response(NPMP_CommonResp::create());
  if (!request || !response) return false;
  std::string joined;
  for (std::list<std::string>::const_iterator it = paths.begin(); it != paths.end(); ++it) {
    request->setPath(utf8(rootFolder_ + *it));
    if (!joined.empty()) joined += ",";
    joined += *it;
  }
  int result = call(CSyncProtocolClient::PLAIN, *request, *response);
  if (result != 200) {
    lastStatus_ = result;
    IM_LOG_ERROR("RemoveByPaths errorcode is %d, path is [%s]", result, joined.c_str());
    return false;
  }
  return true;
}

bool CSyncProtocol::CreateLargeFile(const std::string& folder, const std::string& name, int64_t size,
                                    const std::string& hash, int blockTotal, std::string& url,
                                    std::string& created) {
  if (!ready() || name.empty()) return false;
  Sptr<NPMP_CreateFileReq> request(NPMP_CreateFileReq::create());
  Sptr<NPMP_CreateFileResp> response(NPMP_CreateFileResp::create());
  if (!request || !response) return false;
  std::string path = rootFolder_ + folder;
  request->setPath(utf8(path));
  request->setName(utf8(name));
  request->setHash(hash);
  request->setSize(size);
  request->setBlockTotal(blockTotal);
  int result = call(CSyncProtocolClient::PLAIN, *request, *response);
  if (result != 200) {
    lastStatus_ = result;
    IM_LOG_ERROR(
        "CreateLargeFile errorcode is %d, strAllPath is [%s], strHash is [%s], nBlockTotal is [%u], "
        "nSize is [%llu]",
        result, path.c_str(), hash.c_str(), static_cast<unsigned>(blockTotal),
        static_cast<unsigned long long>(size));
    return false;
  }
  url = NPMP_Response::makeDownloadUrl(userId_, spaceServer_, domain_, response->getDownloadLink());
  created = response->getCreated();
  return true;
}

bool CSyncProtocol::UpLoadBlockData(CSyncProtocolObserver* task, const std::string& name,
                                    int blockIndex, int blockTotal, uint32_t blockSize,
                                    uint64_t offset, const std::string& md5, bool& retry) {
  retry = false;
  if (!ready() || name.empty() || task == 0) return false;
  Sptr<NPMP_UploadFileReq> request(NPMP_UploadFileReq::create());
  Sptr<NPMP_CommonResp> response(NPMP_CommonResp::create());
  if (!request || !response) return false;
  std::string path = rootFolder_ + name;
  request->setFilePath(utf8(path));
  request->setBlockHash(md5);
  request->setOffset(offset);
  request->setBlockId(blockIndex);
  request->setBlockTotal(blockTotal);
  request->setBlockSize(blockSize);
  request->setOperationPath("file/uploadBlock");
  int result = call(CSyncProtocolClient::UPLOAD, *request, *response, task);
  if (result != 200) {
    lastStatus_ = result;
    retry = result == 500 || result == 1 || result == 413;
    IM_LOG_ERROR(
        "UpLoadBlockData errorcode is %d, strAllPath is [%s], strHash is [%s], nBlockIndex is [%u], "
        "nSize is [%u]",
        result, path.c_str(), md5.c_str(), static_cast<unsigned>(blockIndex),
        static_cast<unsigned>(blockSize));
    return false;
  }
  return true;
}

bool CSyncProtocol::MegerLargeFileBlock(const std::string& name, const std::string& md5) {
  if (!ready() || name.empty()) return false;
  Sptr<NPMP_MegerLargeFileReq> request(NPMP_MegerLargeFileReq::create());
  Sptr<NPMP_CommonResp> response(NPMP_CommonResp::create());
  if (!request || !response) return false;
  std::string path = rootFolder_ + name;
  request->setPath(utf8(path));
  request->setMd5(md5);
  int result = call(CSyncProtocolClient::PLAIN, *request, *response);
  if (result != 200) {
    lastStatus_ = result;
    IM_LOG_ERROR("MegerLargeFileBlock errorcode is %d, strAllPath is [%s], strHash is [%s]", result,
                 path.c_str(), md5.c_str());
    return false;
  }
  return true;
}
