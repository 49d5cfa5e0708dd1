#include "testing/FakeSsoServer.h"

#include <openssl/evp.h>

#include <cstdio>

namespace pwtest {

const char* const FakeSsoServer::LOGIN_PATH = "/casserver/login";
const char* const FakeSsoServer::LOGOUT_PATH = "/casserver/logout";
const char* const FakeSsoServer::VALIDATE_PATH = "/casserver/proxyValidate";

namespace {

std::string md5UpperHex(const std::string& text) {
  if (text.empty()) return std::string();
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(text.data(), text.size(), out, &n, EVP_md5(), nullptr);
  static const char* digits = "0123456789ABCDEF";
  std::string hex;
  for (unsigned int i = 0; i < n; ++i) {
    hex += digits[out[i] >> 4];
    hex += digits[out[i] & 15];
  }
  return hex;
}

std::string base64Encode(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                          reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(n);
  return out;
}

// Strict: only the Base64 alphabet with its padding; false otherwise.
bool base64Decode(const std::string& text, std::string& bytes) {
  if (text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
              c == '/' || (c == '=' && i + 2 >= text.size());
    if (!ok) return false;
  }
  std::string out(text.size() / 4 * 3 + 1, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                          reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (n < 0) return false;
  size_t pad = 0;
  if (!text.empty() && text[text.size() - 1] == '=') ++pad;
  if (text.size() > 1 && text[text.size() - 2] == '=') ++pad;
  out.resize(n - pad);
  bytes = out;
  return true;
}

}  // namespace

FakeSsoServer::FakeSsoServer()
    : form_(PLAIN),
      failureRedirect_(false),
      extraCookiesSet_(false),
      fault_(NONE),
      faultCount_(0),
      faultSkip_(0),
      serial_(0),
      http_([this](const HttpRequestRecord& r) { return handle(r); }) {}

FakeSsoServer::~FakeSsoServer() { http_.stop(); }

void FakeSsoServer::addUser(const std::string& user, const std::string& password) {
  std::lock_guard<std::mutex> lock(mutex_);
  passwords_[user] = password;
}

void FakeSsoServer::setPasswordForm(PasswordForm form) {
  std::lock_guard<std::mutex> lock(mutex_);
  form_ = form;
}

void FakeSsoServer::setFailureRedirect(bool redirect) {
  std::lock_guard<std::mutex> lock(mutex_);
  failureRedirect_ = redirect;
}

void FakeSsoServer::setExtraLoginCookies(const std::vector<std::string>& setCookies) {
  std::lock_guard<std::mutex> lock(mutex_);
  extraCookies_ = setCookies;
  extraCookiesSet_ = true;
}

void FakeSsoServer::setAttributes(const std::string& user,
                                  const std::vector<std::pair<std::string, std::string> >& attributes) {
  std::lock_guard<std::mutex> lock(mutex_);
  attributes_[user] = attributes;
}

void FakeSsoServer::setFault(Fault fault, int count, const std::string& pathPrefix, int skip) {
  std::lock_guard<std::mutex> lock(mutex_);
  fault_ = fault;
  faultCount_ = count;
  faultSkip_ = skip;
  faultPrefix_ = pathPrefix;
}

std::vector<FakeSsoServer::Ticket> FakeSsoServer::issuedTickets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tickets_;
}

bool FakeSsoServer::consumeTicket(const std::string& ticket, const std::string& service, std::string* user) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Ticket& t : tickets_) {
    if (t.ticket != ticket) continue;
    bool good = !t.used && (service.empty() || service == t.service);
    t.used = true;
    if (good && user) *user = t.user;
    return good;
  }
  return false;
}

bool FakeSsoServer::hasLiveTgt(const std::string& user) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& tgt : tgts_) {
    if (tgt.second == user) return true;
  }
  return false;
}

void FakeSsoServer::expireAllTgts() {
  std::lock_guard<std::mutex> lock(mutex_);
  tgts_.clear();
}

std::string FakeSsoServer::requestLine(const HttpRequestRecord& request) {
  return request.rawHead.substr(0, request.rawHead.find("\r\n"));
}

std::vector<std::string> FakeSsoServer::cookieHeaders(const HttpRequestRecord& request) {
  return request.headerValues("Cookie");
}

std::vector<std::string> FakeSsoServer::cookiePairs(const HttpRequestRecord& request) {
  std::vector<std::string> pairs;
  for (const std::string& header : request.headerValues("Cookie")) {
    size_t pos = 0;
    while (pos < header.size()) {
      size_t end = header.find(';', pos);
      if (end == std::string::npos) end = header.size();
      size_t start = header.find_first_not_of(' ', pos);
      if (start != std::string::npos && start < end) pairs.push_back(header.substr(start, end - start));
      pos = end + 1;
    }
  }
  return pairs;
}

std::string FakeSsoServer::encodePassword(const std::string& password, PasswordForm form) {
  switch (form) {
    case MD5_HEX: return md5UpperHex(password);
    case BASE64: return base64Encode(password);
    default: return password;
  }
}

HttpReply FakeSsoServer::handle(const HttpRequestRecord& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool matches = fault_ != NONE && faultCount_ != 0 && request.path.compare(0, faultPrefix_.size(), faultPrefix_) == 0;
  if (matches && faultSkip_ > 0) {
    --faultSkip_;
    matches = false;
  }
  if (matches) {
    if (faultCount_ > 0) --faultCount_;
    return faultReply(fault_, request);
  }
  if (request.method != "GET") return HttpReply(405);
  if (request.path == LOGIN_PATH) return login(request);
  if (request.path == LOGOUT_PATH) return logout(request);
  if (request.path == VALIDATE_PATH) return validate(request);
  return HttpReply(404);
}

HttpReply FakeSsoServer::faultReply(Fault fault, const HttpRequestRecord& request) {
  HttpReply reply;
  switch (fault) {
    case LOGIN_PAGE: return loginPage();
    case SERVER_ERROR: return HttpReply(500, "internal error", "text/plain");
    case EMPTY_OK: return HttpReply(200);
    case REDIRECT_NO_TICKET: {
      std::string target = request.queryParam("errorReturnUrl");
      return HttpReply::redirect(302, target.empty() ? "http://127.0.0.1/error?reason=1" : target);
    }
    case REDIRECT_EMPTY_TICKET: {
      std::string service = request.queryParam("service");
      return HttpReply::redirect(302, service + (service.find('?') == std::string::npos ? "?" : "&") + "ticket=");
    }
    case DROP: reply.drop = true; return reply;
    case STALL: reply.delayMs = -1; return reply;
    // The connection then waits for a next request that the client, still reading this
    // answer, never sends.
    case STALL_AFTER_BYTE: reply.raw = "H"; return reply;
    default: return HttpReply(200);
  }
}

HttpReply FakeSsoServer::loginPage() {
  return HttpReply(200, "<html><body><form action='/casserver/login'>login</form></body></html>",
                   "text/html");
}

std::string FakeSsoServer::tgtOf(const HttpRequestRecord& request) {
  std::string tgt;
  for (const std::string& pair : cookiePairs(request)) {
    if (pair.compare(0, 7, "CASTGC=") == 0) tgt = pair.substr(7);
  }
  return tgt;
}

bool FakeSsoServer::passwordMatches(const std::string& user, const std::string& sent) const {
  std::map<std::string, std::string>::const_iterator it = passwords_.find(user);
  if (it == passwords_.end()) return false;
  if (form_ == BASE64) {
    std::string decoded;
    return base64Decode(sent, decoded) && decoded == it->second;
  }
  return sent == encodePassword(it->second, form_);
}

HttpReply FakeSsoServer::grant(const std::string& user, const std::string& service, bool newTgt) {
  int n = ++serial_;
  Ticket ticket;
  ticket.ticket = "ST-" + std::to_string(n) + "-fake";
  ticket.user = user;
  ticket.service = service;
  tickets_.push_back(ticket);
  HttpReply reply = HttpReply::redirect(
      302, service + (service.find('?') == std::string::npos ? "?" : "&") + "ticket=" + ticket.ticket);
  if (newTgt) {
    std::string tgt = "TGT-" + std::to_string(n) + "-fake";
    tgts_[tgt] = user;
    reply.header("Set-Cookie", "CASTGC=" + tgt + "; Path=/casserver; HttpOnly");
    if (extraCookiesSet_) {
      for (const std::string& c : extraCookies_) reply.header("Set-Cookie", c);
    } else {
      reply.header("Set-Cookie", "JSESSIONID=J-" + std::to_string(n) + "; Path=/casserver");
    }
  } else {
    // A cookie login refreshes the session only; the CASTGC stays as it was.
    reply.header("Set-Cookie", "JSESSIONID=J-" + std::to_string(n) + "; Path=/casserver");
  }
  return reply;
}

HttpReply FakeSsoServer::login(const HttpRequestRecord& request) {
  std::string service = request.queryParam("service");
  if (service.empty()) return loginPage();
  if (request.hasQueryParam("username")) {
    std::string user = request.queryParam("username");
    if (request.queryParam("outer") == "true" && passwordMatches(user, request.queryParam("password"))) {
      return grant(user, service, true);
    }
    if (failureRedirect_) {
      std::string target = request.queryParam("errorReturnUrl");
      return HttpReply::redirect(302, target.empty() ? "http://127.0.0.1/error" : target);
    }
    return loginPage();
  }
  std::map<std::string, std::string>::const_iterator tgt = tgts_.find(tgtOf(request));
  if (tgt != tgts_.end()) return grant(tgt->second, service, false);
  return loginPage();
}

HttpReply FakeSsoServer::logout(const HttpRequestRecord& request) {
  tgts_.erase(tgtOf(request));
  return HttpReply(200, "<html><body>logged out</body></html>", "text/html");
}

HttpReply FakeSsoServer::validate(const HttpRequestRecord& request) {
  std::string ticketText = request.queryParam("ticket");
  std::string service = request.queryParam("service");
  for (Ticket& t : tickets_) {
    if (t.ticket != ticketText) continue;
    bool good = !t.used && service == t.service;
    t.used = true;
    if (!good) break;
    std::string body = "<cas:serviceResponse xmlns:cas='http://www.yale.edu/tp/cas'>\n"
                       "<cas:authenticationSuccess>\n<cas:user>" + t.user + "</cas:user>\n";
    std::map<std::string, std::vector<std::pair<std::string, std::string> > >::const_iterator a =
        attributes_.find(t.user);
    if (a == attributes_.end()) {
      body += "<cas:attribute key='mail'>" + t.user + "</cas:attribute>\n";
    } else {
      for (const auto& kv : a->second) body += "<cas:attribute key='" + kv.first + "'>" + kv.second + "</cas:attribute>\n";
    }
    body += "</cas:authenticationSuccess>\n</cas:serviceResponse>\n";
    return HttpReply(200, body, "text/xml");
  }
  return HttpReply(200,
                   "<cas:serviceResponse xmlns:cas='http://www.yale.edu/tp/cas'>\n"
                   "<cas:authenticationFailure code='INVALID_TICKET'>Ticket " + ticketText +
                       " not recognized</cas:authenticationFailure>\n</cas:serviceResponse>\n",
                   "text/xml");
}

}  // namespace pwtest
