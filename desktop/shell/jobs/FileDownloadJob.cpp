#include "jobs/FileDownloadJob.h"

#include <ace/FILE_Addr.h>
#include <ace/FILE_Connector.h>
#include <ace/Guard_T.h>
#include <ace/Message_Block.h>
#include <ace/OS_NS_fcntl.h>
#include <ace/OS_NS_unistd.h>

#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "http/URI.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"
#include "util/CodingTransform.h"

namespace {
const long long kProgressUnit = 65536;
}

FileDownloadJob::FileDownloadJob(const std::string& u)
    : total(0),
      received(0),
      url(u),
      error(0),
      progressCount(0),
      fileOpen_(false),
      ended_(false),
      timeoutSeconds_(0),
      cancelled(false) {}

FileDownloadJob::~FileDownloadJob() {
  if (fileOpen_) discardFile();
}

int FileDownloadJob::execute() {
  IM_TRACE("FileDownloadJob::execute");
  execute_i();
  return 0;
}

int FileDownloadJob::execute_i() {
  IM_TRACE("FileDownloadJob::execute_i");
  IM_LOG_DEBUG("FileDownloadJob::execute_i, downloadURL:%s", url.c_str());
  url = CodingTransform::urldecode(url);
  URI uri(url);
  if (!uri.isValid()) {
    IM_LOG_ERROR("FileDownloadJob::execute_i, bad URL:%s", url.c_str());
    fail(ERR_HTTP);
    return -1;
  }
  const std::string& fullPath = uri.getPath();
  std::string::size_type slash = fullPath.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : fullPath.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? fullPath : fullPath.substr(slash + 1);
  // The form encoding writes a blank as '+', which a path reads as a plus
  // sign; a literal '+' comes out as "%2B", so every '+' here is a blank.
  std::string encoded = CodingTransform::urlencode(name, true, false);
  std::string target = dir;
  for (std::string::size_type i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '+')
      target += "%20";
    else
      target += encoded[i];
  }

  HTTPRequest request;
  request.setHost(uri.getHost());
  request.setURI(target);
  request.setKeepAlive(false);
  request.setVersion("HTTP/1.1");
  HTTPResponse response;

  Sptr<HTTPClient> running;
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, g, clientLock_, -1);
    client = Sptr<HTTPClient>(new HTTPClient(uri.getHost(), uri.getPort()));
    running = client;
    // A cancel that came before the client existed still stops the exchange.
    if (cancelled) running->stop();
  }
  if (timeoutSeconds_ > 0) running->setTimeout(timeoutSeconds_, timeoutSeconds_);
  running->setObserver(this);
  int result = running->invoke(request, response);
  running->setObserver(0);
  if (!ended_) {
    // The exchange ended without its final notification: stopped, cut short,
    // or failed without an event.
    IM_LOG_WARN("FileDownloadJob::execute_i, ended early (%lld of %lld): %s", received, total,
                running->getLastError().c_str());
    fail(isCancelled() || result == 0 ? ERR_STOPPED : ERR_HTTP);
  }
  return result;
}

void FileDownloadJob::cancel() {
  IM_TRACE("FileDownloadJob::cancel");
  ACE_GUARD(ACE_Thread_Mutex, g, clientLock_);
  if (client) client->stop();
  cancelled = true;
}

bool FileDownloadJob::isCancelled() {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, g, clientLock_, true);
  return cancelled;
}

int FileDownloadJob::onHttpEvent(int kind, HTTPMessage* msg, ACE_Message_Block* mb) {
  if (ended_) {
    if (kind == EV_BODY && mb) mb->reset();
    return 0;  // the download is over; what the exchange still reports is ignored
  }
  switch (kind) {
    case EV_FAILURE:
      fail(ERR_HTTP);
      break;
    case EV_HEAD:
      processHeader(msg);
      break;
    case EV_BODY:
      processBody(mb);
      if (mb) mb->reset();
      break;
    case EV_COMPLETE:
      // Complete without the whole length (the head's length already ended
      // the job when it arrived in full).
      fail(ERR_STOPPED);
      break;
    default:
      break;
  }
  return 0;
}

int FileDownloadJob::processHeader(HTTPMessage* msg) {
  IM_TRACE("FileDownloadJob::processHeader");
  HTTPResponse* response = dynamic_cast<HTTPResponse*>(msg);
  int status = response ? response->getStatus() : 0;
  IM_LOG_DEBUG("FileDownloadJob::processHeader, status:%d, length:%lld", status,
               msg ? msg->getContentLength() : 0LL);
  if (status < 200 || status > 299) {
    // An error page is not the file.
    IM_LOG_ERROR("FileDownloadJob::processHeader, status:%d", status);
    cancel();
    fail(ERR_STATUS);
    return -1;
  }
  total = msg->getContentLength();
  if (total <= 0) {
    cancel();
    fail(ERR_EMPTY);
    return -1;
  }
  ACE_FILE_Connector connector;
  ACE_FILE_Addr addr(path.c_str());
  if (path.empty() ||
      connector.connect(file, addr, 0, ACE_Addr::sap_any, 0, O_WRONLY | O_CREAT | O_TRUNC,
                        ACE_DEFAULT_FILE_PERMS) == -1) {
    IM_LOG_ERROR("FileDownloadJob, create file fail");
    cancel();
    fail(ERR_FILE);
    return -1;
  }
  fileOpen_ = true;
  return 0;
}

int FileDownloadJob::processBody(ACE_Message_Block* mb) {
  if (mb == 0 || !fileOpen_) return 0;
  size_t n = mb->length();
  if (static_cast<long long>(n) > total - received) {
    // More than the head announced: keep the announced length only.
    n = static_cast<size_t>(total - received);
  }
  if (n > 0 && file.send_n(mb->rd_ptr(), n) != static_cast<ssize_t>(n)) {
    error = ERR_FILE;
    IM_LOG_ERROR("FileDownloadJob::processBody, err:%d", error);
    cancel();
    fail(ERR_FILE);
    return -1;
  }
  received += static_cast<long long>(n);
  if (received / kProgressUnit > static_cast<long long>(progressCount)) {
    notifyObservers();  // at most one per chunk, however many units it crossed
    ++progressCount;
  }
  if (received == total) {
    // Closed before the final notification, so that an observer may open or
    // run the file at once.
    file.close();
    fileOpen_ = false;
    ended_ = true;
    notifyObservers();
  }
  return 0;
}

void FileDownloadJob::fail(int code) {
  if (ended_) return;
  ended_ = true;
  if (error == 0) error = code;
  if (fileOpen_) discardFile();
  notifyObservers();
}

void FileDownloadJob::discardFile() {
  file.close();
  fileOpen_ = false;
  ACE_OS::unlink(path.c_str());
}
