#include "protocol/NPMP_Response.h"

#include "http/HTTPResponse.h"
#include "log/IM_LogManager.h"
#include "util/CodingTransform.h"

#include <ace/Guard_T.h>
#include <ace/Message_Block.h>
#include <ace/Thread_Mutex.h>

#include <cerrno>
#include <ctime>
#include <exception>
#include <new>

namespace {

template <class T>
T* createResponse() {
  T* p = new (std::nothrow) T;
  if (p == 0) errno = ENOMEM;
  return p;
}

std::string blockText(ACE_Message_Block* body) {
  if (body == 0) return std::string();
  return std::string(body->rd_ptr(), body->length());
}

const Json::JSONValue kNull(Json::nullValue);

// mktime reads and may reload the process's time-zone state; the C library
// guards it with a lock of its own that the race detector cannot see, so the
// calls of the task threads go one at a time.
ACE_Thread_Mutex& timeLock() {
  static ACE_Thread_Mutex lock;
  return lock;
}

}  // namespace

NPMP_Response::NPMP_Response() : status_(200) {}

NPMP_Response::~NPMP_Response() {}

int NPMP_Response::decode(HTTPResponse& response) {
  status_ = response.getStatus();
  reason_ = response.getReason();
  if (status_ != 200 && status_ != 204) return 0;
  ACE_Message_Block* body = response.getBody();
  if (body == 0 || body->length() == 0) {
    if (!needsBody()) return 0;
    // Fields read from a missing body would all be defaults (no space, no
    // link): that is a failed answer, not an empty success.
    if (failureLine() != 0) IM_LOG_DEBUG(failureLine(), "");
    return -1;
  }
  try {
    return decodeBody(body);
  } catch (const std::exception&) {
    IM_LOG_ERROR("parseBody is failed. body is [%s]", blockText(body).c_str());
    return -1;
  } catch (...) {
    IM_LOG_ERROR("parseBody is failed. body is [%s]", blockText(body).c_str());
    return -1;
  }
}

int NPMP_Response::decodeBody(ACE_Message_Block*) { return 0; }

int NPMP_Response::decodeJson(ACE_Message_Block* body) {
  std::string text = blockText(body);
  if (!json_.decode(text)) {
    if (failureLine() != 0) IM_LOG_DEBUG(failureLine(), text.c_str());
    return -1;
  }
  return 0;
}

std::string NPMP_Response::formatDate(const Json::JSONValue& date) {
  if (!date.isObject()) return std::string();
  struct tm day = tm();
  day.tm_year = date.get("year", kNull).asInt();
  day.tm_mon = date.get("month", kNull).asInt();
  day.tm_mday = date.get("date", kNull).asInt();
  day.tm_isdst = -1;
  time_t t;
  {
    ACE_Guard<ACE_Thread_Mutex> guard(timeLock());
    t = mktime(&day);
  }
  if (t == static_cast<time_t>(-1)) return std::string();
  t += 1382400;  // 16 days
  struct tm utc = tm();
  if (gmtime_r(&t, &utc) == 0) return std::string();
  utc.tm_hour = date.get("hours", kNull).asInt();
  utc.tm_min = date.get("minutes", kNull).asInt();
  utc.tm_sec = date.get("seconds", kNull).asInt();
  char text[64];
  if (strftime(text, sizeof text, "%Y-%m-%d", &utc) == 0) return std::string();
  return text;
}

std::string NPMP_Response::makeDownloadUrl(const std::string& userId, const std::string& server,
                                           const std::string& domain, const std::string& link) {
  if (userId.empty() || server.empty() || domain.empty() || link.empty()) return std::string();
  std::string l = link;
  if (l.size() > 2 && l.compare(l.size() - 2, 2, "\r\n") == 0) l.erase(l.size() - 2);
  std::string url = "http://" + server + (l[0] == '/' ? "/space" : "/space/") + l;
  url += l.find('?') == std::string::npos ? "?" : "&";
  url += "domainName=" + CodingTransform::urlencode(domain, true, false);
  url += "&userId=" + CodingTransform::urlencode(userId, true, false);
  return url;
}

// ---------------------------------------------------------------------------

NPMP_CommonResp* NPMP_CommonResp::create() { return createResponse<NPMP_CommonResp>(); }

NPMP_CreateFileResp* NPMP_CreateFileResp::create() { return createResponse<NPMP_CreateFileResp>(); }

int NPMP_CreateFileResp::decodeBody(ACE_Message_Block* body) { return decodeJson(body); }

const char* NPMP_CreateFileResp::failureLine() const {
  return "NPMP_CreateFileResp, [decode is failure! body is %s]";
}

std::string NPMP_CreateFileResp::getDownloadLink() const {
  return json_.get("downloadLink", kNull).asString();
}

std::string NPMP_CreateFileResp::getCreated() const {
  return formatDate(json_.get("created", kNull));
}

NPMP_GetDownLoadLinkResp* NPMP_GetDownLoadLinkResp::create() {
  return createResponse<NPMP_GetDownLoadLinkResp>();
}

int NPMP_GetDownLoadLinkResp::decodeBody(ACE_Message_Block* body) {
  link_ = blockText(body);
  if (link_.empty()) {
    IM_LOG_DEBUG(failureLine(), link_.c_str());
    return -1;
  }
  return 0;
}

const char* NPMP_GetDownLoadLinkResp::failureLine() const {
  return "NPMP_GetDownLoadLinkResp, [decode is failure! body is %s]";
}

NPMP_GetSpaceInfoResp* NPMP_GetSpaceInfoResp::create() { return createResponse<NPMP_GetSpaceInfoResp>(); }

int NPMP_GetSpaceInfoResp::decodeBody(ACE_Message_Block* body) { return decodeJson(body); }

const char* NPMP_GetSpaceInfoResp::failureLine() const {
  return "NPMP_GetSpaceInfoResp, [decode is failure! body is %s]";
}

double NPMP_GetSpaceInfoResp::getSpaceUsed() const { return json_.get("spaceUsed", kNull).asDouble(); }

double NPMP_GetSpaceInfoResp::getSpaceQuota() const {
  return json_.get("spaceQuota", kNull).asDouble();
}

// ---------------------------------------------------------------------------

NPMP_GetFolderInfoResp* NPMP_GetFolderInfoResp::create() {
  return createResponse<NPMP_GetFolderInfoResp>();
}

int NPMP_GetFolderInfoResp::decodeBody(ACE_Message_Block* body) { return decodeJson(body); }

const char* NPMP_GetFolderInfoResp::failureLine() const {
  return "NPMP_GetFolderInfoResp, [decode is failure! body is %s]";
}

std::string NPMP_GetFolderInfoResp::relativePath(const std::string& path) const {
  if (rootFolder_.empty()) return path;
  std::string::size_type at = path.find(rootFolder_);
  if (at != std::string::npos) return path.substr(0, at) + path.substr(at + rootFolder_.size());
  if (rootFolder_.find(path) != std::string::npos) return std::string();
  return path;
}

CNodeInfo* NPMP_GetFolderInfoResp::parseNode(const Json::JSONValue& value) const {
  CNodeInfo* node = 0;
  if (value.get("isFolder", kNull).asBool()) {
    node = new CNodeInfo;
  } else {
    CFileInfo* file = new CFileInfo;
    file->md5hash = value.get("md5hash", kNull).asString();
    file->size = value.get("size", kNull).asInt64();
    file->nocomplete = value.get("nocomplete", kNull).asBool();
    std::string link = value.get("downloadLink", kNull).asString();
    if (!link.empty()) file->downloadLink = makeDownloadUrl(userId_, server_, domain_, link);
    node = file;
  }
  node->id = CodingTransform::utf8_to_gb2312(value.get("id", kNull).asString());
  node->name = CodingTransform::utf8_to_gb2312(value.get("name", kNull).asString());
  node->path = relativePath(CodingTransform::utf8_to_gb2312(value.get("path", kNull).asString()));
  node->owner = CodingTransform::utf8_to_gb2312(value.get("owner", kNull).asString());
  node->creator = CodingTransform::utf8_to_gb2312(value.get("creator", kNull).asString());
  node->txnid = value.get("txnid", kNull).asInt();
  node->created = formatDate(value.get("created", kNull));
  return node;
}

void NPMP_GetFolderInfoResp::walkChildren(const Json::JSONValue& children, NodeTree& nodes,
                                          const NodeTree::iterator_base& parent, int& count) const {
  for (unsigned i = 0; i < children.size(); ++i) {
    const Json::JSONValue element = children.get(i, kNull);
    NodeTree::pre_order_iterator at = nodes.append_child(parent, parseNode(element));
    ++count;
    Json::JSONValue grand = element.get("children", kNull);
    if (grand.isArray() && grand.size() > 0) walkChildren(grand, nodes, at, count);
  }
}

bool NPMP_GetFolderInfoResp::isFolder() const {
  return json_.isObject() && json_.get("isFolder", kNull).asBool();
}

int NPMP_GetFolderInfoResp::buildTree(NodeTree& nodes) const {
  if (status_ != 200 && status_ != 204) return 0;
  if (!json_.isObject() || json_.size() == 0) return 0;
  int count = 1;
  NodeTree::pre_order_iterator top = nodes.append_child(NodeTree::iterator_base(), parseNode(json_));
  Json::JSONValue children = json_.get("children", kNull);
  if (children.isArray()) walkChildren(children, nodes, top, count);
  return count;
}
