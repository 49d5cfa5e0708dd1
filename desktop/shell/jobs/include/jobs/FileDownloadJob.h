// A job that downloads one file over HTTP into a local path and tells its
// observers about progress (every further 64 KiB), about a failure, and about
// the end. Every download that runs ends with exactly one final notification:
// either error == 0 and received == total with the file complete and closed,
// or error != 0 and no file left at the path (a partial file is removed).
//
// Thread rule: the poster sets path (and may call setTimeout) before posting;
// execute and the HTTP events run on the job's thread, which also runs the
// observers; observers read total, received and error during a notification.
// cancel and isCancelled: any thread.
#pragma once

#include <ace/FILE_IO.h>
#include <ace/Thread_Mutex.h>

#include <string>

#include "corvane/Sptr.h"
#include "http/HTTPClient.h"
#include "http/HTTPClientObserver.h"
#include "jobs/LongTimeJob.h"

class FileDownloadJob : public LongTimeJob, public HTTPClientObserver {
 public:
  // Error codes.
  static constexpr int ERR_HTTP = -4;     // the exchange failed (connection, time-out, bad answer)
  static constexpr int ERR_STATUS = -5;   // the server answered with a status other than 2xx
  static constexpr int ERR_STOPPED = -6;  // cancelled, or the body ended short of its length
  static constexpr int ERR_EMPTY = -7;    // no content length (0 or absent)
  static constexpr int ERR_FILE = -8;     // the file could not be created or written

  explicit FileDownloadJob(const std::string& url);
  ~FileDownloadJob() override;

  int execute() override;
  // Stops the transfer: sets the HTTP client's stop flag and the cancelled flag.
  void cancel() override;
  bool isCancelled() override;

  // HTTP events of the running exchange (job thread).
  int onHttpEvent(int kind, HTTPMessage* msg, ACE_Message_Block* mb) override;

  // Seconds of silence (and of connecting) after which the exchange fails.
  // 0 keeps the HTTP client's defaults. Before posting.
  void setTimeout(int seconds) { timeoutSeconds_ = seconds; }

  long long total;      // the response's content length
  long long received;   // body bytes written so far
  std::string url;      // as given; URL-decoded in place when the job runs
  std::string path;     // the local file; set by the poster
  int error;            // 0 while all goes well, else one of ERR_*
  unsigned progressCount;  // progress notifications given so far

 private:
  int execute_i();
  int processHeader(HTTPMessage* msg);
  int processBody(ACE_Message_Block* mb);
  // Sets the error (unless one is set), drops a file begun, gives the final
  // notification. At most once.
  void fail(int code);
  void discardFile();

  ACE_FILE_IO file;
  bool fileOpen_;   // job thread
  bool ended_;      // the final notification was given; job thread
  int timeoutSeconds_;

  ACE_Thread_Mutex clientLock_;  // guards cancelled and client
  bool cancelled;
  Sptr<HTTPClient> client;
};
