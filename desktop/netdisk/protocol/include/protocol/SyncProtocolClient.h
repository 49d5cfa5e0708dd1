// Transports of the net-disk protocol. CSyncProtocolClient sends a request
// inside the user's net-disk session: it logs in through the single sign-on
// client when the cookie store holds no "npmp" session for the user, attaches
// the session cookies, keeps or drops them by the answer, resends once after a
// lost session (206 or 302) and maps the status to the operations' result
// code. CSyncProtocolUpLoadClient streams a block upload's bytes from the
// upload task while the request is sent.
//
// Thread rule: a transport belongs to the thread that created it (one task
// step) and signs every request with the user id and password it was built
// with, never with another thread's current user. The cookie store and the
// single sign-on client it uses lock themselves.
#pragma once

#include "corvane/Sptr.h"
#include "http/HTTPClientObserver.h"

#include <string>

namespace http {
class HTTPClient;
class HTTPRequest;
class HTTPResponse;
}  // namespace http
using http::HTTPClient;
using http::HTTPRequest;
using http::HTTPResponse;
class ACE_Message_Block;
class NPMP_Request;
class NPMP_Response;

// What the block upload pulls the block's bytes from (the upload task).
// Called on the thread that runs the upload.
class CSyncProtocolObserver {
 public:
  virtual ~CSyncProtocolObserver() {}
  // Not called by the upload path.
  virtual bool OnUpLoadEvent(int, int) { return false; }
  // Writes at most maxLength further bytes of the block into the block's
  // write position; true while data was given, false at the end.
  virtual bool GetUpLoadData(int maxLength, ACE_Message_Block* block) = 0;
  // True when the form below hands out the bytes in place (the upload then uses it).
  virtual bool UpLoadDataInPlace() const { return false; }
  // The same bytes in place: `data` points at the next at most maxLength bytes in the
  // observer's own buffer (`length` of them), valid until the next call or the end of the
  // upload; they are sent from there with no copy of ours. Same result as the form above.
  virtual bool GetUpLoadData(size_t, const char*&, size_t& length) {
    length = 0;
    return false;
  }
  // Starts the block's bytes again from its first byte, so that the request
  // can be resent after a renewed session; false when it cannot (the resend
  // then fails at once and the caller retries the block).
  virtual bool RewindUpLoadData() { return false; }
};

class CSyncProtocolClient {
 public:
  enum Kind { PLAIN = 1, UPLOAD = 2 };
  // Result codes besides the mapped HTTP statuses.
  enum {
    RESULT_OK = 200,
    RESULT_CALL_FAIL = 1,    // "NPMP_HTTP_CALL_FAIL"
    RESULT_DECODE_FAIL = 2,  // "NPMP_HTTP_DECODE_FAIL"
    RESULT_FORBIDDEN = 3     // 403 or a failed single sign-on login
  };

  // Kind 1: a plain transport; kind 2: the upload transport pulling from
  // `task`. Null for another kind (or no memory). The user id and password
  // sign the session.
  static CSyncProtocolClient* create(int kind, const std::string& spaceServer,
                                     const std::string& ssoServer, const std::string& userId,
                                     const std::string& password, CSyncProtocolObserver* task = 0);

  // Encodes and sends the request, resending once after a lost session, and
  // decodes the answer into `response`. Returns the result code.
  static int call(CSyncProtocolClient& transport, NPMP_Request& request, NPMP_Response& response);

  // Any thread: ends every exchange of a transport under way with a failure (its HTTP client is
  // stopped) and fails every later one at once, unsent, until allowExchanges. A transport's
  // single sign-on login goes with them (result 1, as a failed exchange): the single sign-on
  // client's exchanges are stopped and allowed again with these, whoever runs them, as that
  // client cannot tell them apart. The net-disk client's shutdown uses it so that nothing it
  // ends waits for a server.
  static void stopExchanges();
  static void allowExchanges();

  // 200 and 204 give 200; 302, 401, 402, 404, 405, 408, 409, 413, 500, 501
  // stay; 403 gives 3; anything else 400.
  static int mapStatus(int status);

  CSyncProtocolClient(const std::string& spaceServer, const std::string& ssoServer,
                      const std::string& userId, const std::string& password);
  virtual ~CSyncProtocolClient();

  // One exchange; 0, or -1 when it failed.
  virtual int httpCall(HTTPRequest& request, HTTPResponse& response);

  const std::string& getUserId() const { return userId_; }

 protected:
  // Called by call before each encode of the request (the closing delimiter
  // of an upload travels this way).
  virtual void takeRequest(NPMP_Request& request) {}
  // The plain exchange: one HTTP call; the session cookies are kept when the
  // status maps to 200 and dropped otherwise.
  int plainCall(HTTPRequest& request, HTTPResponse& response);
  // Host, absolute URL, login when there is no session, cookies. False when
  // nothing may be sent; `status` then tells why (200: the exchange failed).
  bool prepare(HTTPRequest& request, int& status);
  // Logs in at the single sign-on server and fetches the net-disk session.
  bool sso(int& status);

  int timeout_;                  // seconds, VASTO/httpTimeout
  std::string userId_;
  std::string password_;
  std::string domain_;
  std::string ssoServer_;
  std::string spaceServer_;
  Sptr<HTTPClient> client_;      // made by the first exchange

 private:
  CSyncProtocolClient(const CSyncProtocolClient&);
  CSyncProtocolClient& operator=(const CSyncProtocolClient&);
};

class CSyncProtocolUpLoadClient : public CSyncProtocolClient, public HTTPClientObserver {
 public:
  static constexpr size_t CHUNK_SIZE = 256 * 1024;  // the task's bytes go out in pieces of this size

  CSyncProtocolUpLoadClient(const std::string& spaceServer, const std::string& ssoServer,
                            const std::string& userId, const std::string& password,
                            CSyncProtocolObserver* task);
  ~CSyncProtocolUpLoadClient() override;

  // Any thread: closes the kept connections no block upload uses now; those in use are closed
  // when their uploads end. Called at logout (and, for another server, on the next upload).
  static void dropIdleConnections();
  static size_t idleConnections();

  // The transport's HTTP client with this transport as its observer; the
  // body is the multipart head, the task's bytes, the closing delimiter. A
  // second call for the same block first asks the task to rewind and fails
  // at once when it cannot.
  int httpCall(HTTPRequest& request, HTTPResponse& response) override;

  ACE_Message_Block* nextRequestChunk() override;
  int onHttpEvent(int kind, http::HTTPMessage* msg, ACE_Message_Block* mb) override;

 protected:
  void takeRequest(NPMP_Request& request) override;

 private:
  CSyncProtocolObserver* task_;   // not owned
  HTTPRequest* request_;          // the request being sent, during httpCall
  std::string closingDelimiter_;
  bool headSent_;
  bool closingSent_;
  bool pulled_;                   // the task was asked for bytes since the last rewind
  ACE_Message_Block* chunk_;      // copy of the task's bytes (observers without them in place), owned
  ACE_Message_Block* view_;       // the task's bytes in place (the data is the task's), owned
  ACE_Message_Block* head_;       // copy of the multipart head, then the closing delimiter, owned
  // The client that sends the blocks: taken from the idle clients of this server (a kept
  // connection) by the first upload exchange and given back when this transport goes, unless
  // that exchange failed. Only block uploads share connections: curl cannot resend their
  // bodies by itself, so a connection that dies fails the exchange (and the task resends),
  // where a plain request could silently go twice.
  Sptr<HTTPClient> uploadClient_;
  bool reusable_;
  unsigned long generation_;      // of the idle pool when uploadClient_ was taken
};
