// The software update dialog.
#include "app/SoftUpdateDialog.h"

#include "app/AppMessages.h"
#include "app/AppPlatform.h"
#include "jobs/FileDownloadJob.h"
#include "jobs/LongTimeTask.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"
#include "ui/HintDialog.h"
#include "ui/UIStatic.h"
#include "util/Config.h"

#include <ace/Guard_T.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace DuiLib;

namespace {
typedef ACE_Guard<ACE_Thread_Mutex> Guard;

// A folder and a file name joined with the folder's own separator.
std::string joinPath(const std::string& folder, const char* name) {
  char sep = (folder.find('\\') != std::string::npos && folder.find('/') == std::string::npos) ? '\\' : '/';
  return folder + sep + name;
}
}  // namespace

CSoftUpdateDialog::CSoftUpdateDialog() {}
CSoftUpdateDialog::~CSoftUpdateDialog() {}

CControlUI* CSoftUpdateDialog::CreateControl(LPCTSTR pstrClass) { return CreateSharedControl(pstrClass); }

void CSoftUpdateDialog::OnFinalMessage(HWND hWnd) {
  WindowImplBase::OnFinalMessage(hWnd);
  {
    Guard g(jobLock_);
    window_ = nullptr;  // from now on no job reaches the window
  }
  Sptr<CSoftUpdateDialog> last = self_;  // may be the last reference: released on return
  self_ = Sptr<CSoftUpdateDialog>();
}

void CSoftUpdateDialog::Notify(TNotifyUI& msg) {
  if (msg.sType == DUI_MSGTYPE_WINDOWINIT) {
    onWindowInit();
    return;
  }
  if (msg.sType != DUI_MSGTYPE_CLICK || !msg.pSender) return;
  CDuiString name = msg.pSender->GetName();
  if (name == _T("CloseWndBtn") || name == _T("BtnQuit") || name == _T("FinishBtn")) {
    Close(1);
  } else if (name == _T("MinimizeWndBtn")) {
    SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  } else if (name == _T("UpdateBtn")) {
    if (msg.pSender->GetTag() == FINISHED_TAG) {
      Close(1);
    } else {
      downloadInstaller("http://" + webdomain + ":" + webport + installerpath + installername);
    }
  } else if (name == _T("btn_webpage")) {
    pwapp::ShellExecuteA(nullptr, "open", msg.pSender->GetUserData().GetData(), nullptr, nullptr, SW_SHOWMINIMIZED);
  }
}

void CSoftUpdateDialog::readLocalVersion() {
  localVersion_ = Config::instance()->getStrValue("InstallerUpdate", "localversion", "");
}

void CSoftUpdateDialog::onWindowInit() {
  Config* config = Config::instance();
  webdomain = config->getStrValue("InstallerUpdate", "webdomain", "");
  webport = config->getStrValue("InstallerUpdate", "webport", "");
  installerpath = config->getStrValue("InstallerUpdate", "installerpath", "");
  installername = config->getStrValue("InstallerUpdate", "installername", "");
  serverversionname = config->getStrValue("InstallerUpdate", "serverversionname", "");
  readLocalVersion();
  {
    Guard g(jobLock_);
    window_ = m_hWnd;
  }
  setUpdateState(STATE_CHECKING);
  startVersionCheck("http://" + webdomain + ":" + webport + installerpath + serverversionname);
}

void CSoftUpdateDialog::startVersionCheck(const std::string& url) {
  std::string folder;
  if (const char* appData = std::getenv("APPDATA")) folder.assign(appData, strnlen(appData, MAX_PATH));
  if (folder.empty()) {  // no such variable here: the user's application-data folder
    char path[MAX_PATH] = {0};
    if (SHGetSpecialFolderPathA(nullptr, path, CSIDL_APPDATA, TRUE)) folder = path;
  }
  versionFilePath_ = joinPath(folder, "Postwing.ver");

  FileDownloadJob* job = new FileDownloadJob(url);
  job->path = versionFilePath_;
  {
    Guard g(jobLock_);
    versionJobId_ = job->getJobId();
    versionReport_ = JobReport();
  }
  versionChecked_ = false;
  if (self_) job->addObserver(Sptr<LongTimeJobObserver>(self_));
  if (LongTimeTask::instance()->postJob(job) != 0) {
    IM_LOG_ERROR("CSoftUpdateDialog, the version check could not be started");
    delete job;
    setUpdateState(STATE_CHECK_FAILED);
  }
}

void CSoftUpdateDialog::onNotify(LongTimeJob* job) {
  FileDownloadJob* download = dynamic_cast<FileDownloadJob*>(job);
  if (!download) return;
  Guard g(jobLock_);
  JobReport& report = download->getJobId() == versionJobId_ ? versionReport_ : installerReport_;
  report.fresh = true;
  report.error = download->error;
  report.received = download->received;
  report.total = download->total;
  report.ended = download->error != 0 || (download->total > 0 && download->received >= download->total);
  if (window_) ::PostMessageA(window_, WM_PW_UPDATEJOB, 0, 0);
}

LRESULT CSoftUpdateDialog::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  if (uMsg == WM_PW_UPDATEJOB) {
    onJobReports();
    bHandled = TRUE;
    return 0;
  }
  bHandled = FALSE;
  return 0;
}

void CSoftUpdateDialog::onJobReports() {
  JobReport version, installer;
  {
    Guard g(jobLock_);
    version = versionReport_;
    installer = installerReport_;
    versionReport_.fresh = false;
    installerReport_.fresh = false;
  }
  // The version file is read once, when its download has ended: never a partial file, and
  // never a file left by an earlier check when this one failed.
  if (version.fresh && version.ended && !versionChecked_) {
    versionChecked_ = true;
    if (version.error != 0) {
      IM_LOG_WARN("CSoftUpdateDialog, version check failed, [error = %d]", version.error);
      setUpdateState(STATE_CHECK_FAILED);
    } else {
      checkVersion();
    }
  }
  if (installer.fresh) {
    if (installer.error != 0)
      setUpdateState(STATE_FAILED);
    else if (installer.received < installer.total)
      setUpdateState(STATE_PROGRESS, installer.received, installer.total);
    else if (installer.total != 0)
      setUpdateState(STATE_FINISHED);
    else
      setUpdateState(STATE_FAILED);
  }
}

void CSoftUpdateDialog::checkVersion() {
  FILE* f = std::fopen(versionFilePath_.c_str(), "r");
  if (!f) {
    setUpdateState(STATE_UP_TO_DATE);
    return;
  }
  char buf[17] = {0};
  size_t n = std::fread(buf, 1, 16, f);
  std::fclose(f);
  buf[n] = '\0';
  serverVersion_.assign(buf, strnlen(buf, 16));
  IM_LOG_INFO("CSoftUpdateDialog, [server version = %s] [local version = %s]", serverVersion_.c_str(),
              localVersion_.c_str());
  setUpdateState(compareVersion(serverVersion_, localVersion_) ? STATE_NEW_VERSION : STATE_UP_TO_DATE);
}

std::vector<std::string> CSoftUpdateDialog::splitByDelimiter(const std::string& text, char delimiter) {
  std::vector<std::string> pieces;
  std::string cur;
  for (char c : text) {
    if (c == delimiter) {
      if (!cur.empty()) pieces.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) pieces.push_back(cur);
  return pieces;
}

bool CSoftUpdateDialog::compareVersion(const std::string& server, const std::string& local) {
  std::vector<std::string> s = splitByDelimiter(server, '.');
  std::vector<std::string> l = splitByDelimiter(local, '.');
  if (s.size() != 3 || l.size() != 3) return false;
  for (size_t i = 0; i < 3; ++i) {
    int sv = std::atoi(s[i].c_str());
    int lv = std::atoi(l[i].c_str());
    if (lv < sv) return true;
    if (lv > sv) return false;
  }
  return false;
}

int CSoftUpdateDialog::percentOf(long long a, long long b) {
  if (b <= 0 || a <= 0) return 0;
  if (a >= b) return 100;
  return (int)((__int128)a * 100 / b);  // wide enough for installers of any size
}

bool CSoftUpdateDialog::downloadInstaller(const std::string& url) {
  for (;;) {
    char file[260];
    std::snprintf(file, sizeof(file), "%s", installername.c_str());
    pwapp::OPENFILENAMEA ofn;
    std::memset(&ofn, 0, sizeof(ofn));
    ofn.lStructSize = sizeof(ofn);
    ofn.lpstrFilter = "All Files\0*.*\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof(file);
    if (!pwapp::GetSaveFileNameA(&ofn)) return false;

    if (FILE* existing = std::fopen(file, "r")) {
      std::fclose(existing);
      ShowHintDialog(this, "该路径下已存在同名文件，请更换文件名重试", m_hWnd, "选择下载文件名及路径", "msghint.png", false);
      continue;
    }
    FileDownloadJob* job = new FileDownloadJob(url);
    job->path = file;
    {
      Guard g(jobLock_);
      installerReport_ = JobReport();
    }
    if (self_) job->addObserver(Sptr<LongTimeJobObserver>(self_));
    if (LongTimeTask::instance()->postJob(job) != 0) {
      IM_LOG_ERROR("CSoftUpdateDialog, the installer download could not be started");
      delete job;
      setUpdateState(STATE_FAILED);
      return false;
    }
    setUpdateState(STATE_DOWNLOADING);
    return true;
  }
}

void CSoftUpdateDialog::setUpdateState(int state, long long a, long long b) {
  auto find = [this](LPCTSTR name) { return m_PaintManager.FindControl(name); };
  auto setText = [&](LPCTSTR name, const std::string& text) {
    if (CControlUI* c = find(name)) c->SetText(text.c_str());
  };
  auto show = [&](LPCTSTR name, bool visible) {
    if (CControlUI* c = find(name)) c->SetVisible(visible);
  };
  auto hideParent = [&](LPCTSTR name) {
    if (CControlUI* c = find(name))
      if (c->GetParent()) c->GetParent()->SetVisible(false);
  };
  CProgressUI* progress = nullptr;
  if (CControlUI* c = find(_T("pro_updating"))) progress = static_cast<CProgressUI*>(c->GetInterface(_T("Progress")));
  CButtonUI* update = nullptr;
  if (CControlUI* c = find(_T("UpdateBtn"))) update = static_cast<CButtonUI*>(c->GetInterface(_T("Button")));

  switch (state) {
    case STATE_CHECKING:
      show(_T("UpdateBtn"), false);
      show(_T("btn_webpage"), false);
      setText(_T("lbl_info1"), "正在检查新版本......");
      setText(_T("lbl_info2"), "");
      show(_T("lbl_info3"), false);
      setText(_T("lbl_info4"), "");
      setText(_T("lbl_info5"), "");
      setText(_T("lbl_versioninfo"), "本地版本：V" + localVersion_);
      show(_T("pro_updating"), false);
      break;
    case STATE_UP_TO_DATE:
      show(_T("UpdateBtn"), false);
      show(_T("btn_webpage"), true);
      setText(_T("lbl_info1"), "您使用的是最新版本的Postwing。");
      setText(_T("lbl_info2"), "关注Ferrow官网，新的升级信息及时知道。");
      show(_T("lbl_info3"), true);
      setText(_T("lbl_info4"), "");
      setText(_T("lbl_info5"), "");
      setText(_T("lbl_versioninfo"), "当前已是最新版本：V" + localVersion_);
      show(_T("pro_updating"), false);
      break;
    case STATE_CHECK_FAILED:
      show(_T("UpdateBtn"), false);
      show(_T("btn_webpage"), true);
      setText(_T("lbl_info1"), "检查新版本失败，请稍后重试。");
      setText(_T("lbl_info2"), "无法从升级服务器获取版本信息。");
      show(_T("lbl_info3"), false);
      setText(_T("lbl_info4"), "");
      setText(_T("lbl_info5"), "");
      setText(_T("lbl_versioninfo"), "本地版本：V" + localVersion_);
      show(_T("pro_updating"), false);
      break;
    case STATE_NEW_VERSION:
      show(_T("UpdateBtn"), true);
      hideParent(_T("btn_webpage"));
      setText(_T("lbl_info1"), "检测到新版本");
      setText(_T("lbl_info2"), "您有最新的版本可以更新了。");
      hideParent(_T("lbl_info3"));
      setText(_T("lbl_info4"), "");
      setText(_T("lbl_info5"), "");
      setText(_T("lbl_versioninfo"), "检测到新版本：V" + serverVersion_);
      show(_T("pro_updating"), false);
      break;
    case STATE_DOWNLOADING:
      if (update) {
        update->SetVisible(true);
        update->SetBkImage("..\\images\\updating.png");
        update->SetEnabled(false);
      }
      hideParent(_T("btn_webpage"));
      setText(_T("lbl_info1"), "检测到新版本,正在下载...");
      show(_T("lbl_info2"), false);
      hideParent(_T("lbl_info3"));
      setText(_T("lbl_info4"), "开始下载");
      setText(_T("lbl_info5"), "0%");
      setText(_T("lbl_versioninfo"), "检测到新版本：V" + serverVersion_);
      show(_T("pro_updating"), true);
      break;
    case STATE_PROGRESS: {
      char text[64];
      std::snprintf(text, sizeof(text), "%.2fM/%.2fM", (double)a / 1048576.0, (double)b / 1048576.0);
      setText(_T("lbl_info4"), text);
      int percent = percentOf(a, b);
      std::snprintf(text, sizeof(text), "%d%%", percent);
      setText(_T("lbl_info5"), text);
      if (progress) progress->SetValue(percent);
      break;
    }
    case STATE_FINISHED:
      if (update) {
        update->SetVisible(true);
        update->SetNormalImage("..\\images\\CloseNormalBig.png");
        update->SetHotImage("..\\images\\CloseHotBig.png");
        update->SetPushedImage("..\\images\\CloseDownBig.png");
        update->SetEnabled(true);
        update->SetFixedWidth(102);
        update->SetFixedHeight(32);
        update->SetTag(FINISHED_TAG);
      }
      setText(_T("lbl_info1"), "下载完成");
      setText(_T("lbl_info4"), "");
      setText(_T("lbl_info5"), "100%");
      if (progress) progress->SetValue(100);
      break;
    case STATE_FAILED:
      if (CControlUI* c = find(_T("lbl_info4"))) {
        c->SetText("下载失败");
        if (auto* label = static_cast<CLabelUI*>(c->GetInterface(_T("Label")))) label->SetTextColor(0xFFFF0000);
      }
      break;
    default:
      return;
  }
  state_ = state;
}
