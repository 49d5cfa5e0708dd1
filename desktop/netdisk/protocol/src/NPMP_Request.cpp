#include "protocol/NPMP_Request.h"

#include "http/HTTPRequest.h"
#include "log/IM_LogManager.h"
#include "util/CodingTransform.h"
#include "util/Config.h"

#include <ace/Guard_T.h>
#include <ace/Thread_Mutex.h>
#include <mimetic/mimetic.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <sstream>

const char* const NPMP_Request::DEFAULT_ROOT = "/space/rest/server/";

namespace {

template <class T>
T* createRequest() {
  T* p = new (std::nothrow) T;
  if (p == 0) errno = ENOMEM;
  return p;
}

// mimetic numbers its boundaries with an unsynchronised static counter, so
// entities are built and written one at a time across the upload threads.
ACE_Thread_Mutex& mimeticLock() {
  static ACE_Thread_Mutex lock;
  return lock;
}

}  // namespace

NPMP_Request::NPMP_Request() : root_(configuredRoot()) {}

NPMP_Request::~NPMP_Request() {}

std::string NPMP_Request::configuredRoot() {
  std::string root = Config::instance()->getStrValue("VASTO", "wwwRoot", DEFAULT_ROOT);
  if (root.empty() || root[root.size() - 1] != '/') root += "/";
  return root;
}

void NPMP_Request::addParameter(const std::string& name, const Json::JSONValue& value) {
  if (name.empty()) return;
  params_[name].push_back(value);
}

void NPMP_Request::setUriElement(const std::string& name, const std::string& value) {
  uriElements_[name] = value;
}

std::string NPMP_Request::AppendUriElements(const std::string& path) const {
  if (path.empty()) {
    IM_LOG_DEBUG("NPMP_Request, [path is null!]");
    return std::string();
  }
  if (uriElements_.empty()) {
    IM_LOG_DEBUG("NPMP_Request, [parameters is null!]");
    return path;
  }
  std::string uri = path + "?";
  bool first = true;
  for (UriElementMap::const_iterator it = uriElements_.begin(); it != uriElements_.end(); ++it) {
    if (!first) uri += "&";
    first = false;
    uri += it->first + "=" + CodingTransform::urlencode(it->second, true, false);
  }
  return uri;
}

void NPMP_Request::paramsEncode(Json::JSONObject& out) const {
  for (ParamMap::const_iterator it = params_.begin(); it != params_.end(); ++it) {
    const std::list<Json::JSONValue>& values = it->second;
    if (values.empty()) continue;
    if (values.size() == 1) {
      out[it->first] = values.front();
    } else {
      Json::JSONArray array(false);
      for (std::list<Json::JSONValue>::const_iterator v = values.begin(); v != values.end(); ++v)
        array.append(*v);
      out[it->first] = array;
    }
  }
}

void NPMP_Request::encode(HTTPRequest& request) {
  request.setVersion(HTTPRequest::HTTP_1_1);
  request.setKeepAlive(true);
  request.setContentType("application/x-www-form-urlencoded");
  request.setCredentials("Accept", "text/html, image/gif, image/jpeg, *; q=.2, */*; q=.2");
  request.set("ajaxRequest", "true");
  request.set("User-Agent", "vasto");
  Json::JSONObject object;
  paramsEncode(object);
  std::string body;
  if (!object.empty()) body = object.encode();
  request.clearBody();
  if (!body.empty()) request.setBody(body.data(), body.size());
  request.setContentLength(static_cast<long long>(body.size()));
}

void NPMP_Request::encodeTyped(HTTPRequest& request, const std::string& method,
                               const std::string& operationPath) {
  request.setMethod(method);
  request.setURI(AppendUriElements(root_ + operationPath));
  NPMP_Request::encode(request);
}

// ---------------------------------------------------------------------------

NPMP_CreateFileReq* NPMP_CreateFileReq::create() { return createRequest<NPMP_CreateFileReq>(); }

void NPMP_CreateFileReq::encode(HTTPRequest& request) {
  encodeTyped(request, HTTPRequest::HTTP_POST, "file/createLargeFile");
}

void NPMP_CreateFileReq::setSize(int64_t size) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld", static_cast<long long>(size));
  addParameter("size", std::string(text));
}

NPMP_DeleteReq* NPMP_DeleteReq::create() { return createRequest<NPMP_DeleteReq>(); }

void NPMP_DeleteReq::encode(HTTPRequest& request) {
  encodeTyped(request, HTTPRequest::HTTP_POST, "file/premove");
}

NPMP_GetDownLoadLinkReq* NPMP_GetDownLoadLinkReq::create() {
  return createRequest<NPMP_GetDownLoadLinkReq>();
}

void NPMP_GetDownLoadLinkReq::encode(HTTPRequest& request) {
  encodeTyped(request, HTTPRequest::HTTP_POST, "file/download");
}

NPMP_GetFolderInfoReq* NPMP_GetFolderInfoReq::create() { return createRequest<NPMP_GetFolderInfoReq>(); }

NPMP_GetFolderInfoReq::NPMP_GetFolderInfoReq() { setUriElement("depth", "100000000"); }

void NPMP_GetFolderInfoReq::encode(HTTPRequest& request) {
  encodeTyped(request, HTTPRequest::HTTP_GET, "folder/childfolderAndFiles");
}

NPMP_GetSpaceInfoReq* NPMP_GetSpaceInfoReq::create() { return createRequest<NPMP_GetSpaceInfoReq>(); }

void NPMP_GetSpaceInfoReq::encode(HTTPRequest& request) {
  encodeTyped(request, HTTPRequest::HTTP_GET, "user/services/status");
}

NPMP_MegerLargeFileReq* NPMP_MegerLargeFileReq::create() {
  return createRequest<NPMP_MegerLargeFileReq>();
}

void NPMP_MegerLargeFileReq::encode(HTTPRequest& request) {
  encodeTyped(request, HTTPRequest::HTTP_POST, "file/megerLargeFileBlock");
}

// ---------------------------------------------------------------------------

NPMP_UploadFileReq* NPMP_UploadFileReq::create() { return createRequest<NPMP_UploadFileReq>(); }

NPMP_UploadFileReq::NPMP_UploadFileReq() : blockSize_(0) {}

void NPMP_UploadFileReq::setFilePath(const std::string& path) {
  addParameter("filepath", path);
  std::string::size_type slash = path.rfind('/');
  fileName_ = slash == std::string::npos ? path : path.substr(slash + 1);
  if (fileName_.empty()) fileName_ = path;
}

void NPMP_UploadFileReq::setBlockId(int index) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", index);
  addParameter("blockid", std::string(text));
}

void NPMP_UploadFileReq::setBlockSize(uint32_t size) {
  blockSize_ = size;
  addParameter("blocksize", static_cast<unsigned int>(size));
}

void NPMP_UploadFileReq::encode(HTTPRequest& request) {
  request.setMethod(HTTPRequest::HTTP_POST);
  request.setURI(AppendUriElements(root_ + operationPath_));
  request.setVersion(HTTPRequest::HTTP_1_1);
  request.set("ajaxRequest", "true");
  request.set("User-Agent", "vasto");

  Json::JSONObject object;
  paramsEncode(object);
  std::string json;
  if (!object.empty()) json = object.encode();

  std::string text;
  std::string contentType;
  {
    ACE_Guard<ACE_Thread_Mutex> guard(mimeticLock());
    mimetic::MultipartEntity entity;
    entity.header().contentType().subtype("form-data");

    mimetic::MimeEntity* post = new mimetic::MimeEntity;
    post->header().contentDisposition().type("form-data");
    post->header().contentDisposition().param("name", "txtPost");
    post->header().contentType().set("text/plain");
    post->header().contentType().param("charset", "utf-8");
    post->header().contentTransferEncoding().mechanism("8bit");
    post->body().assign(json);
    entity.body().parts().push_back(post);

    mimetic::MimeEntity* file = new mimetic::MimeEntity;
    file->header().contentDisposition().type("form-data");
    file->header().contentDisposition().param("name", "txtFile");
    file->header().contentDisposition().param("filename", fileName_);
    file->header().contentType().set("application/octet-stream");
    file->header().contentType().param("charset", "ISO-8859-1");
    file->header().contentTransferEncoding().mechanism("binary");
    entity.body().parts().push_back(file);

    std::ostringstream out;
    out << entity;
    text = out.str();
    contentType = entity.header().contentType().str();
  }

  // The closing delimiter runs from the line break before the last
  // occurrence of the boundary to the end.
  closingDelimiter_.clear();
  std::string::size_type at = text.find("boundary=\"");
  if (at != std::string::npos) {
    at += 10;
    std::string::size_type end = text.find('"', at);
    if (end != std::string::npos && end > at) {
      std::string boundary = text.substr(at, end - at);
      std::string::size_type last = text.rfind(boundary);
      if (last != std::string::npos && last >= 4) {
        closingDelimiter_ = text.substr(last - 4);
        text.erase(last - 4);
      }
    }
  }
  long long total = static_cast<long long>(text.size() + closingDelimiter_.size()) + blockSize_;
  request.setContentType(contentType);
  request.clearBody();
  if (!text.empty()) request.setBody(text.data(), text.size());
  request.setContentLength(total);
}
