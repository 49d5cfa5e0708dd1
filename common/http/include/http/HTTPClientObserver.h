// What HTTPClient::invoke talks to while an exchange runs. Every operation is
// called on the thread that runs invoke.
#pragma once

class ACE_Message_Block;

namespace http {

class HTTPMessage;

class HTTPClientObserver {
 public:
  // Event kinds passed to onHttpEvent.
  enum {
    EV_FAILURE = 0,   // the exchange failed (transport error, time-out, bad answer)
    EV_HEAD = 5,      // status line and headers are in (message = the response)
    EV_BODY = 6,      // a chunk of body data is in the block
    EV_COMPLETE = 7   // the whole response was received
  };

  virtual ~HTTPClientObserver() {}

  // The next chunk of the request body: a block whose unread bytes are sent,
  // or null when the body is complete. Asked again once the previous chunk has
  // been sent. The block stays the observer's; the client reads it (moving its
  // read position) before asking for the next one.
  virtual ACE_Message_Block* nextRequestChunk() { return 0; }

  // A notification with two arguments that the client never sends.
  virtual void onNotify(long, long) {}

  // The progress of the exchange, see the kinds above. For EV_BODY the block
  // holds the chunk; an observer that consumes it sets its positions back
  // (reset); bytes it leaves unread are appended to the response's body.
  // The block is the client's and valid only during the call; `msg` is the
  // response. The result is ignored (stop an exchange with HTTPClient::cancel).
  virtual int onHttpEvent(int kind, HTTPMessage* msg, ACE_Message_Block* mb) = 0;
};

}  // namespace http

using http::HTTPClientObserver;
