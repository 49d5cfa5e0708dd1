// CSoftUpdateDialog: the software update window. When it opens it downloads the small version
// file from the update web server (InstallerUpdate/webdomain, webport, installerpath,
// serverversionname), compares it with InstallerUpdate/localversion and says that the program
// is up to date, that the check failed, or offers the new version; on request it asks where to
// save the installer (InstallerUpdate/installername), downloads it with a progress bar and then
// turns its main button into a close button. Both downloads are FileDownloadJobs on the job
// runner, observed by the dialog.
//
// Ownership: the object is held through Sptr only: by the opener while the modal loop runs, by
// itself (setSelfReference) until its window's final message, and by the observer list of each
// job it watches until the runner deletes that job. So it may outlive its window while a
// download still runs; it then touches no window any more.
//
// Thread rule: everything runs on the UI thread of its window, except onNotify, which runs on a
// job's thread: it only records what the job reported and posts WM_PW_UPDATEJOB to the window
// while the window lives (jobLock_ guards both), and the UI thread acts on it in order.
#pragma once

#include "corvane/Sptr.h"
#include "duilib/UIlib.h"
#include "jobs/LongTimeJob.h"

#include <ace/Thread_Mutex.h>

#include <string>
#include <vector>

class CSoftUpdateDialog : public DuiLib::WindowImplBase, public LongTimeJobObserver {
 public:
  // Display states of setUpdateState.
  enum {
    STATE_UP_TO_DATE = 1,
    STATE_NEW_VERSION = 2,
    STATE_DOWNLOADING = 3,
    STATE_PROGRESS = 4,
    STATE_FINISHED = 5,
    STATE_FAILED = 6,
    STATE_CHECKING = 7,
    STATE_CHECK_FAILED = 8,  // the version file could not be fetched
  };
  static constexpr UINT_PTR FINISHED_TAG = 1024;  // UpdateBtn's tag once the installer is saved

  CSoftUpdateDialog();
  ~CSoftUpdateDialog() override;

  LPCTSTR GetWindowClassName() const override { return _T("CSoftUpdateDialog"); }
  void OnFinalMessage(HWND hWnd) override;
  DuiLib::CDuiString GetSkinFolder() override { return _T("skin\\xml\\"); }
  DuiLib::CDuiString GetSkinFile() override { return _T("SoftUpdateDialog.xml"); }
  void Notify(DuiLib::TNotifyUI& msg) override;
  DuiLib::CControlUI* CreateControl(LPCTSTR pstrClass) override;
  LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;

  // A watched job reports progress or its end. The job's thread.
  void onNotify(LongTimeJob* job) override;

  // The opener hands the dialog a reference to itself before its modal run. UI thread.
  void setSelfReference(const Sptr<CSoftUpdateDialog>& self) { self_ = self; }

  // True when server is a newer version than local: both must be three numbers joined by
  // full stops ("1.2.10" is newer than "1.2.3"); anything else is "no update".
  static bool compareVersion(const std::string& server, const std::string& local);
  // The runs between delimiters; empty runs are dropped.
  static std::vector<std::string> splitByDelimiter(const std::string& text, char delimiter);
  // The text of a percentage a * 100 / b, rounded toward zero, within 0..100.
  static int percentOf(long long a, long long b);

  // Shows a display state (see the enum); a and b are received and total bytes for
  // STATE_PROGRESS. Other numbers change nothing.
  void setUpdateState(int state, long long a = 0, long long b = 0);
  // Asks for the installer's path and starts its download. False when the user cancelled.
  bool downloadInstaller(const std::string& url);

  // For the opener and tests. UI thread.
  int updateState() const { return state_; }
  const std::string& serverVersion() const { return serverVersion_; }
  const std::string& versionFilePath() const { return versionFilePath_; }

 private:
  struct JobReport {
    bool fresh = false;  // not yet acted on by the UI thread
    bool ended = false;  // the job's final notification came
    int error = 0;
    long long received = 0;
    long long total = 0;
  };

  void onWindowInit();
  void readLocalVersion();
  void startVersionCheck(const std::string& url);
  void checkVersion();
  // WM_PW_UPDATEJOB on the UI thread: acts on the latest reports.
  void onJobReports();

  std::string webdomain, webport, installerpath, installername, serverversionname;
  std::string serverVersion_;
  std::string localVersion_;
  std::string versionFilePath_;
  int state_ = 0;
  bool versionChecked_ = false;
  Sptr<CSoftUpdateDialog> self_;

  ACE_Thread_Mutex jobLock_;
  HWND window_ = nullptr;       // guarded by jobLock_; null once the window is gone
  std::string versionJobId_;    // guarded by jobLock_
  JobReport versionReport_;     // guarded by jobLock_
  JobReport installerReport_;   // guarded by jobLock_
};
