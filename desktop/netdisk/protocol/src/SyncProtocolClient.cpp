#include "protocol/SyncProtocolClient.h"

#include "http/HTTPClient.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "log/IM_LogManager.h"
#include "protocol/NPMP_Request.h"
#include "protocol/NPMP_Response.h"
#include "sso/SsoClient.h"
#include "sso/SsoCookieManager.h"
#include "util/Config.h"
#include "util/StringParser.h"

#include <ace/Guard_T.h>
#include <ace/Message_Block.h>
#include <ace/Thread_Mutex.h>

#include <cstring>
#include <map>
#include <new>
#include <set>
#include <vector>

namespace {

const char* const kSystemId = "npmp";
const size_t kChunkSize = 4096;  // the smallest head buffer
const size_t kIdleClientsPerServer = 16;

// HTTP clients (each with its kept connection) that no exchange uses now, all of one server.
// Step tasks run on threads of their own, each with fresh transports: they take a client here
// and give it back, so consecutive blocks reuse connections. The pool is emptied at logout and
// when the server changes; a client taken before that is not given back (its generation is
// past). Guarded by idleLock().
ACE_Thread_Mutex& idleLock() {
  static ACE_Thread_Mutex* m = new ACE_Thread_Mutex();
  return *m;
}
struct IdlePool {
  std::string server;
  unsigned long generation = 0;
  std::vector<Sptr<HTTPClient> > clients;
};
IdlePool& idlePool() {
  static IdlePool* p = new IdlePool();
  return *p;
}

// Empties the pool; idleLock() held. The clients (and their connections) go when the caller
// drops the returned vector, outside the lock.
std::vector<Sptr<HTTPClient> > emptyPool(IdlePool& pool) {
  std::vector<Sptr<HTTPClient> > gone;
  gone.swap(pool.clients);
  ++pool.generation;
  return gone;
}

Sptr<HTTPClient> takeIdle(const std::string& server, unsigned long& generation) {
  std::vector<Sptr<HTTPClient> > gone;
  {
    ACE_Guard<ACE_Thread_Mutex> g(idleLock());
    IdlePool& pool = idlePool();
    if (pool.server != server) {
      gone = emptyPool(pool);
      pool.server = server;
    }
    generation = pool.generation;
    if (!pool.clients.empty()) {
      Sptr<HTTPClient> c = pool.clients.back();
      pool.clients.pop_back();
      return c;
    }
  }
  return Sptr<HTTPClient>(new HTTPClient(server));
}

void giveBack(const std::string& server, unsigned long generation, const Sptr<HTTPClient>& client) {
  ACE_Guard<ACE_Thread_Mutex> g(idleLock());
  IdlePool& pool = idlePool();
  if (pool.server == server && pool.generation == generation && pool.clients.size() < kIdleClientsPerServer)
    pool.clients.push_back(client);
}

// The HTTP clients with an exchange of a transport under way, so that stopExchanges can end
// them from another thread. Guarded by runningLock().
ACE_Thread_Mutex& runningLock() {
  static ACE_Thread_Mutex* m = new ACE_Thread_Mutex();
  return *m;
}
struct RunningExchanges {
  bool stopped = false;
  std::set<HTTPClient*> clients;
};
RunningExchanges& running() {
  static RunningExchanges* r = new RunningExchanges();
  return *r;
}

// Registers the client's coming exchange; false (nothing may be sent) while exchanges are stopped.
bool enterExchange(HTTPClient* client) {
  ACE_Guard<ACE_Thread_Mutex> g(runningLock());
  if (running().stopped) return false;
  running().clients.insert(client);
  return true;
}

void leaveExchange(HTTPClient* client) {
  ACE_Guard<ACE_Thread_Mutex> g(runningLock());
  running().clients.erase(client);
}

bool exchangesStopped() {
  ACE_Guard<ACE_Thread_Mutex> g(runningLock());
  return running().stopped;
}

// Copies `text` into `block` (grown when too small), positions reset.
ACE_Message_Block* fill(ACE_Message_Block*& block, const char* data, size_t length) {
  if (block == 0 || block->size() < length) {
    delete block;
    block = new ACE_Message_Block(length > kChunkSize ? length : kChunkSize);
  }
  block->reset();
  if (length > 0) block->copy(data, length);
  return block;
}

}  // namespace

CSyncProtocolClient* CSyncProtocolClient::create(int kind, const std::string& spaceServer,
                                                 const std::string& ssoServer,
                                                 const std::string& userId,
                                                 const std::string& password,
                                                 CSyncProtocolObserver* task) {
  if (kind == PLAIN)
    return new (std::nothrow) CSyncProtocolClient(spaceServer, ssoServer, userId, password);
  if (kind == UPLOAD && task != 0)
    return new (std::nothrow) CSyncProtocolUpLoadClient(spaceServer, ssoServer, userId, password, task);
  return 0;
}

CSyncProtocolClient::CSyncProtocolClient(const std::string& spaceServer, const std::string& ssoServer,
                                         const std::string& userId, const std::string& password)
    : timeout_(Config::instance()->getIntValue("VASTO", "httpTimeout", 60)),
      userId_(userId),
      password_(password),
      ssoServer_(ssoServer),
      spaceServer_(spaceServer) {
  if (timeout_ < 1) timeout_ = 60;
  std::vector<std::string> pieces;
  StringParser::tokenize(userId, "@", pieces);
  if (pieces.size() > 1) domain_ = pieces[1];
  SsoClient::instance()->setServer(ssoServer_);
}

CSyncProtocolClient::~CSyncProtocolClient() {}

void CSyncProtocolClient::stopExchanges() {
  {
    ACE_Guard<ACE_Thread_Mutex> g(runningLock());
    running().stopped = true;
    for (std::set<HTTPClient*>::iterator it = running().clients.begin(); it != running().clients.end(); ++it)
      (*it)->stop();
  }
  // A transport's login runs on the single sign-on client's own HTTP clients.
  SsoClient::stopExchanges();
}

void CSyncProtocolClient::allowExchanges() {
  {
    ACE_Guard<ACE_Thread_Mutex> g(runningLock());
    running().stopped = false;
  }
  SsoClient::allowExchanges();
}

int CSyncProtocolClient::mapStatus(int status) {
  switch (status) {
    case 200:
    case 204:
      return 200;
    case 302:
    case 401:
    case 402:
    case 404:
    case 405:
    case 408:
    case 409:
    case 413:
    case 500:
    case 501:
      return status;
    case 403:
      return RESULT_FORBIDDEN;
    default:
      return 400;
  }
}

int CSyncProtocolClient::call(CSyncProtocolClient& transport, NPMP_Request& request,
                              NPMP_Response& response) {
  HTTPRequest httpRequest;
  HTTPResponse httpResponse;
  request.encode(httpRequest);
  transport.takeRequest(request);

  bool exchanged = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt == 1) {
      // A lost session: drop the user's cookies and send once more, which
      // logs in again. The request is encoded afresh so that no cookie of
      // the old session stays on it.
      SsoCookieManager::clearCookie(transport.userId_);
      httpRequest = HTTPRequest();
      request.encode(httpRequest);
      transport.takeRequest(request);
    }
    httpResponse.reset();
    int status = 200;
    if (!transport.prepare(httpRequest, status)) {
      exchanged = status != 200;
      if (exchanged) httpResponse.setStatus(status);
    } else {
      exchanged = transport.httpCall(httpRequest, httpResponse) == 0;
    }
    if (!exchanged) break;
    int got = httpResponse.getStatus();
    if (got != 206 && got != 302) break;
  }

  int result;
  const char* word = 0;
  bool mapped = false;
  if (!exchanged) {
    result = RESULT_CALL_FAIL;
    word = "NPMP_HTTP_CALL_FAIL";
  } else if (response.decode(httpResponse) == -1) {
    result = RESULT_DECODE_FAIL;
    word = "NPMP_HTTP_DECODE_FAIL";
  } else {
    result = mapStatus(httpResponse.getStatus());
    word = "NPMP_INTERFACE_CALL_FAIL";
    mapped = true;
  }
  if (result != RESULT_OK) {
    IM_LOG_ERROR("CSyncProtocolClient::CSyncProtocolClient is %s", word);
    ACE_Message_Block* body = httpRequest.getBody();
    if (body != 0 && body->length() > 0)
      IM_LOG_DEBUG("CSyncProtocolClient::URL is [%s], body is [%s]", httpRequest.getURI().c_str(),
                   httpRequest.getBodyText().c_str());
    else
      IM_LOG_DEBUG("CSyncProtocolClient::URL is [%s]", httpRequest.getURI().c_str());
    if (mapped && httpResponse.getBody() != 0)
      IM_LOG_DEBUG("CSyncProtocolClient::body is [%s]", httpResponse.getBodyText().c_str());
  }
  return result;
}

bool CSyncProtocolClient::prepare(HTTPRequest& request, int& status) {
  // Not even a single sign-on login once the exchanges are stopped.
  if (exchangesStopped()) return false;
  std::vector<std::string> pieces;
  StringParser::tokenize(spaceServer_, ":", pieces);
  if (pieces.empty()) return false;
  request.setHost(pieces[0]);
  std::string url = "http://" + spaceServer_ + request.getURI();
  if (!SsoCookieManager::hasCookie(kSystemId, userId_)) {
    if (!sso(status)) return false;
  }
  SsoCookieManager::restoreCookie(kSystemId, userId_, request);
  request.setURI(url);
  return true;
}

bool CSyncProtocolClient::sso(int& status) {
  std::vector<std::string> pieces;
  StringParser::tokenize(spaceServer_, ":", pieces);
  std::string host = pieces.empty() ? std::string() : pieces[0];
  std::string service = "http://" + host + "/space/rest/sso/getSession?domainName=" + domain_;
  std::string ticket;
  std::string location;
  const unsigned long stopsBefore = SsoClient::stopCount();
  int r = SsoClient::instance()->authenticate(userId_, password_, service, "http://127.0.0.1/",
                                              kSystemId, ticket, location, "");
  if (r != 0) {
    // A login that a stop ended was not refused: the request failed unanswered (the transports'
    // stop at exit, or the single sign-on's own stop at logout, which allows exchanges again at
    // once: the request's retry then logs in anew).
    if (!exchangesStopped() && SsoClient::stopCount() == stopsBefore) status = 403;
    return false;
  }
  HTTPRequest fetch;
  fetch.setMethod(HTTPRequest::HTTP_GET);
  fetch.setVersion(HTTPRequest::HTTP_1_1);
  fetch.setHost(spaceServer_);
  fetch.setCredentials("Accept-Encoding", "identity");
  fetch.setURI(location);
  HTTPResponse answer;
  if (plainCall(fetch, answer) != 0) return false;
  status = answer.getStatus();
  return status == 200 || status == 204;
}

int CSyncProtocolClient::httpCall(HTTPRequest& request, HTTPResponse& response) {
  return plainCall(request, response);
}

int CSyncProtocolClient::plainCall(HTTPRequest& request, HTTPResponse& response) {
  if (!client_) client_ = Sptr<HTTPClient>(new HTTPClient(spaceServer_));
  client_->setTimeout(timeout_, timeout_);
  if (!enterExchange(client_.get())) {
    IM_LOG_WARN("CSyncProtocolClient, [status = exchanges stopped, url is %s]", request.getURI().c_str());
    return -1;
  }
  int r = client_->call(request, response) == 0 ? 0 : -1;
  leaveExchange(client_.get());
  if (r == 0 && mapStatus(response.getStatus()) == 200)
    SsoCookieManager::saveCookies(kSystemId, userId_, response);
  else
    SsoCookieManager::clearCookie(userId_);
  return r;
}

// ---------------------------------------------------------------------------

CSyncProtocolUpLoadClient::CSyncProtocolUpLoadClient(const std::string& spaceServer,
                                                     const std::string& ssoServer,
                                                     const std::string& userId,
                                                     const std::string& password,
                                                     CSyncProtocolObserver* task)
    : CSyncProtocolClient(spaceServer, ssoServer, userId, password),
      task_(task),
      request_(0),
      headSent_(false),
      closingSent_(false),
      pulled_(false),
      chunk_(0),
      view_(new ACE_Message_Block(static_cast<const char*>(""), 0)),
      head_(0),
      reusable_(false),
      generation_(0) {}

void CSyncProtocolUpLoadClient::dropIdleConnections() {
  std::vector<Sptr<HTTPClient> > gone;
  ACE_Guard<ACE_Thread_Mutex> g(idleLock());
  gone = emptyPool(idlePool());
}

size_t CSyncProtocolUpLoadClient::idleConnections() {
  ACE_Guard<ACE_Thread_Mutex> g(idleLock());
  return idlePool().clients.size();
}

CSyncProtocolUpLoadClient::~CSyncProtocolUpLoadClient() {
  if (uploadClient_ && reusable_) giveBack(spaceServer_, generation_, uploadClient_);
  delete chunk_;
  delete view_;
  delete head_;
}

void CSyncProtocolUpLoadClient::takeRequest(NPMP_Request& request) {
  NPMP_UploadFileReq* upload = dynamic_cast<NPMP_UploadFileReq*>(&request);
  closingDelimiter_ = upload != 0 ? upload->getClosingDelimiter() : std::string();
}

int CSyncProtocolUpLoadClient::httpCall(HTTPRequest& request, HTTPResponse& response) {
  // The block's bytes were pulled by the first sending; a resend must start
  // them again, never send what is left of a consumed stream.
  if (pulled_ && !task_->RewindUpLoadData()) {
    IM_LOG_ERROR("CSyncProtocolUpLoadClient, [the block cannot be sent again, url is %s]",
                 request.getURI().c_str());
    return -1;
  }
  pulled_ = false;
  if (!uploadClient_) uploadClient_ = takeIdle(spaceServer_, generation_);
  uploadClient_->setTimeout(timeout_, timeout_);
  uploadClient_->setObserver(this);
  request_ = &request;
  headSent_ = false;
  closingSent_ = false;
  int r = -1;
  if (enterExchange(uploadClient_.get())) {
    r = uploadClient_->invoke(request, response) == 0 ? 0 : -1;
    leaveExchange(uploadClient_.get());
  } else {
    IM_LOG_WARN("CSyncProtocolUpLoadClient, [status = exchanges stopped, url is %s]", request.getURI().c_str());
  }
  uploadClient_->setObserver(0);
  request_ = 0;
  if (r != 0) uploadClient_ = Sptr<HTTPClient>();  // its connection is not trusted again
  reusable_ = r == 0;
  return r;
}

ACE_Message_Block* CSyncProtocolUpLoadClient::nextRequestChunk() {
  if (!headSent_) {
    headSent_ = true;
    ACE_Message_Block* body = request_ != 0 ? request_->getBody() : 0;
    if (body != 0 && body->length() > 0) return fill(head_, body->rd_ptr(), body->length());
  }
  if (closingSent_) return 0;
  pulled_ = true;
  if (task_->UpLoadDataInPlace()) {
    const char* data = 0;
    size_t length = 0;
    if (task_->GetUpLoadData(CHUNK_SIZE, data, length)) {
      view_->base(const_cast<char*>(data), length, ACE_Message_Block::DONT_DELETE);
      view_->wr_ptr(length);
      return view_;
    }
  } else {
    if (chunk_ == 0) chunk_ = new ACE_Message_Block(CHUNK_SIZE);
    chunk_->reset();
    if (task_->GetUpLoadData(static_cast<int>(CHUNK_SIZE), chunk_)) return chunk_;
  }
  closingSent_ = true;
  return fill(head_, closingDelimiter_.data(), closingDelimiter_.size());
}

int CSyncProtocolUpLoadClient::onHttpEvent(int, http::HTTPMessage*, ACE_Message_Block*) { return 0; }
