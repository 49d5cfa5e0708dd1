// The large-attachment window.
#include "dialog/FileUploaderDialog.h"

#include "bridge/PW_PostwingServer.h"
#include "client/NetDiskClient.h"
#include "dialog/CommonDialogs.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"
#include "ui/HintDialog.h"
#include "ui/UIStatic.h"
#include "util/Config.h"
#include "win32/shellexecute.h"

#include <ace/Guard_T.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace DuiLib;

namespace {

const char* const kSearchHint = "搜索文件...";
const char* const kNoMailWindow = "没有等待插入附件的写信窗口，请打开写信窗口后再次插入";
const char* const kLinksNotDelivered = "附件链接未能送达写信窗口，请再次插入";
const char* const kNoLinkFor = "以下文件没有取得下载链接：";
const DWORD kInfoColor = 0xFF1E1E1E;
const DWORD kErrorColor = 0xFFCC0000;

const char* const kCheckNormal = "file='..\\images\\CheckboxNormal.png' ";
const char* const kCheckDisabled = "file='..\\images\\CheckBoxDisable.png' ";
const char* const kStartNormal = "file='..\\images\\start_normal.png' ";
const char* const kStartHot = "file='..\\images\\start_hot.png' ";
const char* const kPauseNormal = "file='..\\images\\pause_normal.png' ";
const char* const kPauseHot = "file='..\\images\\pause_hot.png' ";
const char* const kInsertNormal = "file='..\\images\\InsertFileNormal.png' ";
const char* const kInsertHot = "file='..\\images\\InsertFileHot.png' ";
const char* const kInsertDisabled = "file='..\\images\\InsertFileDisable.png' ";

const UINT_PTR kUploadRow = 0;
const UINT_PTR kFileRow = 1;

CButtonUI* asButton(CControlUI* c) { return c ? static_cast<CButtonUI*>(c->GetInterface("Button")) : nullptr; }
CCheckBoxUI* asCheck(CControlUI* c) { return c ? static_cast<CCheckBoxUI*>(c->GetInterface("CheckBox")) : nullptr; }
CProgressUI* asProgress(CControlUI* c) {
  return c ? static_cast<CProgressUI*>(c->GetInterface("Progress")) : nullptr;
}

bool endsWith(const std::string& s, char c) { return !s.empty() && s[s.size() - 1] == c; }

}  // namespace

CFileUploaderDialog::CFileUploaderDialog(CWindowWnd* mainWindow, const std::string& userMail)
    : mainWindow_(mainWindow), userMail_(userMail) {}

CFileUploaderDialog::~CFileUploaderDialog() {
  // A window that never got as far as its final message still has to leave the client.
  if (listening_) {
    {
      ACE_Guard<ACE_Thread_Mutex> g(eventLock_);
      eventWindow_ = nullptr;
    }
    NetDiskClient::instance()->removeListener(this);
    listening_ = false;
  }
}

CControlUI* CFileUploaderDialog::CreateControl(LPCTSTR pstrClass) { return CreateSharedControl(pstrClass); }

// ---- texts ------------------------------------------------------------------------------------

std::string CFileUploaderDialog::errorText(int code) {
  switch (code) {
    case 1: return "上传任务已经存在";
    case 2: return "没有匹配的任务";
    case 3: return "文件尺寸太大";
    case 4: return "文件已经发生变化";
    case 5: return "本地文件访问出错";
    case 6: return "空间尺寸限制";
    case 7: return "服务器创建文件失败";
    case 8: return "upblock返回失败";
    case 9: return "服务器合并文件失败";
    case 11: return "删除文件失败";
    case 12: return "其他未知错误";
    default: return "";
  }
}

std::string CFileUploaderDialog::lowerName(const std::string& gbk) {
  std::string out(gbk);
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < out.size()) {
      ++i;  // the trail byte of a double-byte character may look like a letter
    } else if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

bool CFileUploaderDialog::containsText(const std::string& haystack, const std::string& needle) {
  if (needle.empty()) return true;
  for (size_t i = 0; i + needle.size() <= haystack.size();) {
    if (haystack.compare(i, needle.size(), needle) == 0) return true;
    unsigned char c = static_cast<unsigned char>(haystack[i]);
    i += (c >= 0x81 && c <= 0xFE && i + 1 < haystack.size()) ? 2 : 1;
  }
  return false;
}

std::string CFileUploaderDialog::sizeText(int64_t size) {
  char buf[64];
  if (size >= 1048576)
    snprintf(buf, sizeof(buf), "%.2fM", static_cast<double>(size) / 1048576);
  else if (size >= 1024)
    snprintf(buf, sizeof(buf), "%.2fK", static_cast<double>(size) / 1024);
  else
    snprintf(buf, sizeof(buf), "%dB", static_cast<int>(size));
  return buf;
}

// ---- engine thread: the listener --------------------------------------------------------------

void CFileUploaderDialog::postError(int error) {
  ACE_Guard<ACE_Thread_Mutex> g(eventLock_);
  if (eventWindow_ != nullptr) ::PostMessageA(eventWindow_, WM_PW_UPLOADEVENT, static_cast<WPARAM>(error), 0);
}

void CFileUploaderDialog::queueEvent(const Event& e) {
  ACE_Guard<ACE_Thread_Mutex> g(eventLock_);
  if (eventWindow_ == nullptr) return;
  pending_.push_back(e);
  if (!::PostMessageA(eventWindow_, WM_PW_NETDISKEVENT, 0, 0)) pending_.pop_back();
}

void CFileUploaderDialog::onListFile(const std::vector<NetDiskFileItem>& files, int error) {
  if (error != 0) return postError(error);
  Event e;
  e.kind = Event::LIST_FILE;
  for (const NetDiskFileItem& f : files)
    if (!f.hidden) e.files.push_back(f);
  queueEvent(e);
}

void CFileUploaderDialog::onRenameFile(const std::string&, const std::string&, int) {}

void CFileUploaderDialog::onDeleteFile(const std::string& name, int error) {
  Event e;
  if (error != 0) {
    // The file is still there: its row goes back to what it showed, so it can be tried again.
    postError(error);
    e.kind = Event::DELETE_FAILED;
    e.name = name;
    return queueEvent(e);
  }
  e.kind = Event::DELETE_FILE;
  e.name = name;
  queueEvent(e);
}

void CFileUploaderDialog::onListUploadTask(const std::vector<UploadTaskStatus>& tasks, int error) {
  if (error != 0) return postError(error);
  Event e;
  e.kind = Event::LIST_UPLOADS;
  e.tasks = tasks;
  queueEvent(e);
}

void CFileUploaderDialog::onUploadStatus(const UploadTaskStatus& task, int error) {
  if (error != 0) {
    postError(error);
    // A failed upload has stopped: its row must not go on saying it uploads.
    if (task.state != UploadTaskStatus::STOPPED || task.relpath.empty()) return;
    Event e;
    e.kind = Event::PAUSED;
    e.tasks.push_back(task);
    return queueEvent(e);
  }
  Event e;
  e.kind = Event::UPLOAD_STATUS;
  e.tasks.push_back(task);
  queueEvent(e);
}

void CFileUploaderDialog::onAddUploadTask(const UploadTaskStatus& task, int error) {
  if (error != 0) return postError(error);
  Event e;
  e.kind = Event::ADD_UPLOAD;
  e.tasks.push_back(task);
  queueEvent(e);
}

void CFileUploaderDialog::onPauseUpload(const UploadTaskStatus& task, int error) {
  if (error != 0) return postError(error);
  Event e;
  e.kind = Event::PAUSED;
  e.tasks.push_back(task);
  queueEvent(e);
}

void CFileUploaderDialog::onResumeUpload(const UploadTaskStatus& task, int error) {
  if (error != 0) return postError(error);
  Event e;
  e.kind = Event::RESUMED;
  e.tasks.push_back(task);
  queueEvent(e);
}

void CFileUploaderDialog::onCancelUpload(const std::string&, int) {}

void CFileUploaderDialog::onDownloadUrl(const std::map<std::string, std::string>& links) {
  Event e;
  e.kind = Event::LINKS;
  e.links = links;
  queueEvent(e);
}

// ---- UI thread: messages ----------------------------------------------------------------------

LRESULT CFileUploaderDialog::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  switch (uMsg) {
    case WM_PW_UPLOADEVENT:
      showError(static_cast<int>(wParam));
      return 0;
    case WM_PW_CHECKALL:
      checkAll();
      return 0;
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header == nullptr || header->code != EN_LINK) {
        bHandled = FALSE;
        return 0;
      }
      openLink(*reinterpret_cast<const ENLINK*>(lParam));
      return 0;
    }
    case WM_PW_NETDISKEVENT: {
      Event e;
      {
        ACE_Guard<ACE_Thread_Mutex> g(eventLock_);
        if (pending_.empty()) return 0;
        e = pending_.front();
        pending_.pop_front();
      }
      applyEvent(e);
      return 0;
    }
    default:
      bHandled = FALSE;
      return 0;
  }
}

void CFileUploaderDialog::OnFinalMessage(HWND hWnd) {
  {
    ACE_Guard<ACE_Thread_Mutex> g(eventLock_);
    eventWindow_ = nullptr;
    pending_.clear();
  }
  NetDiskClient* client = NetDiskClient::instance();
  if (listening_) {
    client->removeListener(this);
    listening_ = false;
  }
  client->cancelAllUploadTask();
  if (CListUI* l = list()) l->RemoveAll();
  rows_.clear();
  hits_.clear();
  WindowImplBase::OnFinalMessage(hWnd);
}

void CFileUploaderDialog::Notify(TNotifyUI& msg) {
  if (msg.sType == DUI_MSGTYPE_WINDOWINIT) return onWindowInit();
  CControlUI* sender = msg.pSender;
  if (sender == nullptr) return;
  CDuiString name = sender->GetName();
  if (msg.sType == DUI_MSGTYPE_CLICK) {
    onClick(sender);
  } else if (msg.sType == DUI_MSGTYPE_SELECTCHANGED) {
    if (name == "fui_check" && !settingCheck_) onRowCheckChanged(sender);
  } else if (msg.sType == DUI_MSGTYPE_SETFOCUS) {
    if (name == "search_edit" && sender->GetText() == kSearchHint) sender->SetText("");
  } else if (msg.sType == DUI_MSGTYPE_KILLFOCUS) {
    if (name == "search_edit" && sender->GetText().IsEmpty()) sender->SetText(kSearchHint);
  } else if (msg.sType == DUI_MSGTYPE_RETURN) {
    if (name == "search_edit") search();
  }
}

void CFileUploaderDialog::onWindowInit() {
  IM_TRACE("CFileUploaderDialog::onWindowInit");
  {
    ACE_Guard<ACE_Thread_Mutex> g(eventLock_);
    eventWindow_ = m_hWnd;
  }
  NetDiskClient* client = NetDiskClient::instance();
  if (!listening_) {
    client->addListener(this);
    listening_ = true;
  }
  if (client->listFile() < 0) IM_LOG_ERROR("CFileUploaderDialog, [status = listFile failed, reason = no engine]");
  enableInsert(false);
  if (CControlUI* title = find("titallabel")) title->SetText(("Ferrow企业邮箱超大附件（" + userMail_ + "）").c_str());
  if (CControlUI* edit = find("search_edit"))
    if (edit->GetText().IsEmpty()) edit->SetText(kSearchHint);
  // The net disk's own pages, as a link that opens in the browser.
  if (CControlUI* c = find("netdisk_link_edit")) {
    if (CRichEditUI* links = static_cast<CRichEditUI*>(c->GetInterface("RichEdit"))) {
      std::string server = Config::instance()->getStrValue("VASTO", "spaceServer", "");
      links->SetAutoURLDetect(true);
      links->SetEventMask(links->GetEventMask() | ENM_LINK);
      links->SetText(server.empty() ? "" : ("网页版网盘：http://" + server + "/space/").c_str());
    }
  }
}

void CFileUploaderDialog::openLink(const ENLINK& link) {
  if (link.msg != WM_LBUTTONUP) return;
  CRichEditUI* links = nullptr;
  if (CControlUI* c = find("netdisk_link_edit")) links = static_cast<CRichEditUI*>(c->GetInterface("RichEdit"));
  if (links == nullptr) return;
  CHARRANGE range = link.chrg;
  links->SetSel(range);
  CDuiString address = links->GetSelText();
  if (address.IsEmpty()) return;
  IM_LOG_INFO("CFileUploaderDialog::openLink, [address = %s]", address.GetData());
  ::ShellExecuteA(nullptr, "open", address.GetData(), nullptr, nullptr, SW_SHOW);
}

void CFileUploaderDialog::applyEvent(const Event& e) {
  switch (e.kind) {
    case Event::LIST_FILE: {
      addFileRows(e.files);
      if (CControlUI* b = find("upload_file_btn")) b->SetEnabled(true);
      if (CControlUI* w = find("Waiting")) w->SetVisible(false);
      NetDiskClient::instance()->listUploadTask();
      break;
    }
    case Event::DELETE_FILE:
      deleting_.erase(lowerName(e.name));
      removeRow(e.name);
      break;
    case Event::DELETE_FAILED:
      restoreDeletedRow(e.name);
      break;
    case Event::LIST_UPLOADS:
      addUploadRows(e.tasks);
      orderList();
      if (rows_.empty()) setInformation("文件列表为空", kInfoColor);
      break;
    case Event::UPLOAD_STATUS:
      refreshUpload(e.tasks.front());
      break;
    case Event::ADD_UPLOAD:
      addUploadRow(e.tasks.front());
      setInformation("", kInfoColor);
      break;
    case Event::PAUSED:
      setRowOperator(e.tasks.front().relpath, 0);
      break;
    case Event::RESUMED: {
      // The client reports the end of an upload through this callback too (a state other than
      // stopped, not a pause): a finished upload is shown as finished, a resumed one that had
      // to wait as waiting.
      const UploadTaskStatus& task = e.tasks.front();
      if (task.state == UploadTaskStatus::FINISHED) {
        refreshUpload(task);
      } else {
        // A resume carries what the records hold: an upload that starts again because its
        // file changed shows its progress back at the start.
        if (CListContainerElementUI* row = findRow(task.relpath))
          if (row->GetTag() == kUploadRow) showProgressOf(row, task);
        setRowOperator(task.relpath, task.state == UploadTaskStatus::WAITING ? 2 : 1);
      }
      break;
    }
    case Event::LINKS:
      sendLinks(e.links);
      break;
  }
}

void CFileUploaderDialog::showError(int code) {
  if (code == 10) {
    if (CControlUI* w = find("Waiting")) w->SetVisible(false);
    if (CControlUI* l = find("ErrorLayout")) l->SetVisible(true);
    return;
  }
  setInformation(errorText(code), kErrorColor);
}

void CFileUploaderDialog::setInformation(const std::string& text, DWORD color) {
  CControlUI* c = find("information_label");
  if (c == nullptr) return;
  c->SetText(text.c_str());
  c->SetToolTip(text.c_str());
  if (CLabelUI* l = static_cast<CLabelUI*>(c->GetInterface("Label"))) l->SetTextColor(color);
}

// ---- UI thread: clicks ------------------------------------------------------------------------

void CFileUploaderDialog::onClick(CControlUI* sender) {
  CDuiString name = sender->GetName();
  if (name == "CloseWndBtn" || name == "BtnQuit" || name == "cancel_btn") {
    requestClose();
  } else if (name == "MinimizeWndBtn") {
    SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  } else if (name == "upload_file_btn") {
    chooseFiles();
  } else if (name == "search_btn") {
    search();
  } else if (name == "insert_enclosure_btn") {
    insert();
  } else if (name == "btn_reupdate") {
    if (CControlUI* w = find("Waiting")) w->SetVisible(true);
    if (CControlUI* l = find("ErrorLayout")) l->SetVisible(false);
    NetDiskClient::instance()->listFile();
  } else if (name == "fui_operator") {
    if (CListContainerElementUI* row = rowOf(sender)) onOperatorClicked(row, sender);
  } else if (name == "fui_delete") {
    if (CListContainerElementUI* row = rowOf(sender)) onDeleteClicked(row);
  } else if (name == "listheader_checkbtn") {
    PostMessage(WM_PW_CHECKALL, 0, 0);  // runs after the box changed its state
  }
}

void CFileUploaderDialog::requestClose() {
  if (anyOperatorTag(1) && showHint("您有正在上传的文件，确定关闭窗口？", "取消上传", "", true) != 1) return;
  Close(1);
}

void CFileUploaderDialog::onOperatorClicked(CListContainerElementUI* row, CControlUI* button) {
  UINT_PTR state = button->GetTag();
  if (state == 1 || state == 2) {
    button->SetEnabled(false);
    NetDiskClient::instance()->pauseUploadTask(shownName(row));
  } else if (state == 0) {
    button->SetEnabled(false);
    NetDiskClient::instance()->resumeUploadTask(shownName(row));
  }
}

void CFileUploaderDialog::onDeleteClicked(CListContainerElementUI* row) {
  CControlUI* op = sub(row, "fui_operator");
  if (op && op->GetTag() == 1) {
    showHint("文件正在上传中，请暂停后再删除", "删除", "", false);
    return;
  }
  std::string name = shownName(row);
  if (showHint((name + "删除后将无法恢复，您确定要删除吗？").c_str(), "删除", "", true) != 1) return;
  // The row may have gone while the box was open.
  if (findRow(name) != row) return;
  RowBeforeDeletion before;
  CControlUI* del = sub(row, "fui_delete");
  CControlUI* status = sub(row, "fui_status");
  if (status) {
    before.status = status->GetText().str();
    before.statusTag = status->GetTag();
  }
  before.deleteVisible = del == nullptr || del->IsVisible();
  before.operatorVisible = op == nullptr || op->IsVisible();
  deleting_[lowerName(name)] = before;
  if (del) del->SetVisible(false);
  if (op) op->SetVisible(false);
  if (status) status->SetText("删除中");
  NetDiskClient::instance()->deleteFile(name);
}

void CFileUploaderDialog::chooseFiles() {
  std::unique_ptr<char[]> buffer(new char[kNameBufferSize]);
  std::memset(buffer.get(), 0, kNameBufferSize);
  static const char kFilter[] = "All Files\0*.*\0";
  pwsys::OPENFILENAMEA ofn;
  ofn.hwndOwner = m_hWnd;
  ofn.lpstrFilter = kFilter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = buffer.get();
  ofn.nMaxFile = kNameBufferSize;
  ofn.Flags = pwsys::OFN_ALLOWMULTISELECT | pwsys::OFN_HIDEREADONLY | pwsys::OFN_EXPLORER;
  if (!pwsys::GetOpenFileNameA(&ofn)) {
    DWORD error = pwsys::CommDlgExtendedError();
    if (error != 0) IM_LOG_WARN("CFileUploaderDialog::chooseFiles, [status = open dialog failed, error = %u]", error);
    return;
  }
  // The folder is the selection's own (what the dialog made the current directory), taken
  // from the answer so that the process's current directory is never changed or relied on.
  const char* text = buffer.get();
  size_t offset = ofn.nFileOffset;
  if (offset == 0 || offset >= static_cast<size_t>(kNameBufferSize)) return;
  std::string folder(text, offset - 1);
  NetDiskClient* client = NetDiskClient::instance();
  for (const char* name = text + offset; *name != '\0' && name < text + kNameBufferSize;
       name += std::strlen(name) + 1) {
    char path[kNameBufferSize + 8];
    snprintf(path, sizeof(path), "%s" PW_PATH_SEPARATOR "%s", folder.c_str(), name);
    client->addUploadTask(path, "");
  }
}

void CFileUploaderDialog::search() {
  for (RowMap::iterator it = rows_.begin(); it != rows_.end(); ++it) it->second->SetVisible(false);
  std::string text;
  if (CControlUI* edit = find("search_edit")) text = edit->GetText().str();
  searching_ = !(text.empty() || text == kSearchHint);
  hits_.clear();
  text = lowerName(text);
  for (RowMap::iterator it = rows_.begin(); it != rows_.end(); ++it) {
    CControlUI* op = sub(it->second, "fui_operator");
    if (op && (op->GetTag() == 1 || op->GetTag() == 2)) continue;  // uploads in progress are never hits
    if (containsText(it->first, text)) hits_.insert(*it);
  }
  const RowMap& shown = searching_ ? hits_ : rows_;
  for (RowMap::const_iterator it = shown.begin(); it != shown.end(); ++it) it->second->SetVisible(true);
  orderList();
}

void CFileUploaderDialog::insert() {
  NetDiskClient* client = NetDiskClient::instance();
  if (anyOperatorTag(1)) {
    if (showHint("您有正在上传的文件，确定插入大附件？", "插入大附件", "", true) != 1) return;
    for (RowMap::iterator it = rows_.begin(); it != rows_.end(); ++it) {
      CControlUI* op = sub(it->second, "fui_operator");
      if (op && (op->GetTag() == 1 || op->GetTag() == 2)) {
        op->SetEnabled(false);
        client->pauseUploadTask(shownName(it->second));
      }
    }
  }
  // The shown names, in key order: the net disk knows the files by these names.
  std::vector<std::string> names;
  for (RowMap::iterator it = rows_.begin(); it != rows_.end(); ++it) {
    CCheckBoxUI* check = asCheck(sub(it->second, "fui_check"));
    if (check && check->GetCheck()) names.push_back(shownName(it->second));
  }
  if (names.empty()) {
    pwsys::MessageBoxA(m_hWnd, "请选择要插入的附件", "测试", pwsys::MB_OK);
    return;
  }
  if (static_cast<int>(names.size()) > kMaxInsert) {
    showHint("您选择一次性插入的文件太多，请不要超过100个文件", "插入附件", "msghint.png", false);
    return;
  }
  if (client->getDownloadUrl(names) < 0) {
    showError(12);
    return;
  }
  linkNames_ = names;
  enableInsert(false);
  setInformation("正在插入附件，请稍候", kInfoColor);
}

void CFileUploaderDialog::sendLinks(const std::map<std::string, std::string>& links) {
  std::map<std::string, std::string> entries;
  std::vector<std::string> missing;  // asked for, or answered, without a link
  for (const std::string& name : linkNames_) {
    std::map<std::string, std::string>::const_iterator it = links.find(name);
    if (it == links.end() || it->second.empty()) missing.push_back(name);
  }
  for (std::map<std::string, std::string>::const_iterator it = links.begin(); it != links.end(); ++it) {
    if (it->second.empty()) {
      if (std::find(missing.begin(), missing.end(), it->first) == missing.end()) missing.push_back(it->first);
      continue;
    }
    CListContainerElementUI* row = findRow(it->first);
    if (row == nullptr) continue;
    std::string size;
    if (CControlUI* s = sub(row, "fui_filesize")) size = s->GetText().str();
    if (!endsWith(size, 'B')) size += "B";
    entries[it->first + "?" + size] = it->second;
  }
  linkNames_.clear();
  std::string noLink;  // names the files without a link
  if (!missing.empty()) {
    // Never an empty link in the mail: the user learns which files have none.
    std::string names;
    for (size_t i = 0; i < missing.size(); ++i) names += (i == 0 ? "" : "、") + missing[i];
    IM_LOG_ERROR("CFileUploaderDialog::sendLinks, [status = no link, files = %s]", names.c_str());
    noLink = kNoLinkFor + names;
    setInformation(noLink, kErrorColor);
  }
  if (entries.empty()) {
    // Not one link came back: nothing to insert, and the user may try again.
    if (missing.empty()) showError(12);
    enableInsert(checkedCount_ > 0);
    return;
  }
  PW_PostwingServer* server = PW_PostwingServer::instance();
  if (!server->sendAttachment(entries, m_hWnd)) {
    // Not one link reached a mail: the window stays with its rows checked, so that the user
    // can open a compose window (or let the clipboard go) and insert them again.
    const bool waiting = !server->pendingAttachHandle().empty();
    IM_LOG_WARN("CFileUploaderDialog::sendLinks, [status = links not sent, reason = %s]",
                waiting ? "clipboard or connection failed" : "no compose window waiting");
    std::string why = waiting ? kLinksNotDelivered : kNoMailWindow;
    setInformation(noLink.empty() ? why : why + "；" + noLink, kErrorColor);
    enableInsert(checkedCount_ > 0);
    return;
  }
  if (!missing.empty()) {
    // The others went to the mail; the window stays so the message above can be read. Their
    // rows are unchecked, so a second Insert offers only what is left and no link goes twice.
    for (std::map<std::string, std::string>::const_iterator it = links.begin(); it != links.end(); ++it) {
      if (it->second.empty()) continue;
      CListContainerElementUI* row = findRow(it->first);
      CCheckBoxUI* box = row ? asCheck(sub(row, "fui_check")) : nullptr;
      if (box == nullptr || !box->GetCheck()) continue;
      setCheck(box, false);
      if (checkedCount_ > 0) --checkedCount_;
    }
    setCheck(find("listheader_checkbtn"), false);
    enableInsert(checkedCount_ > 0);
    return;
  }
  Close(1);
}

void CFileUploaderDialog::restoreDeletedRow(const std::string& name) {
  std::map<std::string, RowBeforeDeletion>::iterator it = deleting_.find(lowerName(name));
  CListContainerElementUI* row = findRow(name);
  if (it == deleting_.end() || row == nullptr) {
    if (it != deleting_.end()) deleting_.erase(it);
    return;
  }
  const RowBeforeDeletion& before = it->second;
  if (CControlUI* status = sub(row, "fui_status")) {
    status->SetText(before.status.c_str());
    status->SetTag(before.statusTag);
  }
  if (CControlUI* del = sub(row, "fui_delete")) del->SetVisible(before.deleteVisible);
  if (CControlUI* op = sub(row, "fui_operator")) op->SetVisible(before.operatorVisible);
  deleting_.erase(it);
}

void CFileUploaderDialog::showProgressOf(CListContainerElementUI* row, const UploadTaskStatus& task) {
  if (CProgressUI* slider = asProgress(sub(row, "fui_slider"))) {
    int value = 0;
    if (task.fileLength > 0)
      value = static_cast<int>(static_cast<double>(task.transferred) * 100 / static_cast<double>(task.fileLength));
    slider->SetValue(value);
  }
  if (CControlUI* size = sub(row, "fui_filesize")) {
    char buf[96];
    double t = static_cast<double>(task.transferred > 0 ? task.transferred : 0);
    double n = static_cast<double>(task.fileLength);
    if (task.fileLength >= 1048576)
      snprintf(buf, sizeof(buf), "%.2fM/%.2fM", t / 1048576, n / 1048576);
    else if (task.fileLength >= 1024)
      snprintf(buf, sizeof(buf), "%.2fK/%.2fK", t / 1024, n / 1024);
    else
      snprintf(buf, sizeof(buf), "%dB/%dB", static_cast<int>(t), static_cast<int>(task.fileLength));
    size->SetText(buf);
    size->SetTag(static_cast<UINT_PTR>(t));
  }
}

// ---- UI thread: check boxes -------------------------------------------------------------------

void CFileUploaderDialog::setCheck(CControlUI* check, bool checked) {
  CCheckBoxUI* box = asCheck(check);
  if (box == nullptr) return;
  settingCheck_ = true;
  box->SetCheck(checked);
  settingCheck_ = false;
}

void CFileUploaderDialog::onRowCheckChanged(CControlUI* check) {
  CCheckBoxUI* box = asCheck(check);
  if (box == nullptr) return;
  checkedCount_ += box->GetCheck() ? 1 : -1;
  if (checkedCount_ < 0) checkedCount_ = 0;
  enableInsert(checkedCount_ > 0);
  int enabled = 0;
  for (RowMap::iterator it = rows_.begin(); it != rows_.end(); ++it) {
    CControlUI* c = sub(it->second, "fui_check");
    if (c && c->IsEnabled()) ++enabled;
  }
  setCheck(find("listheader_checkbtn"), checkedCount_ >= 1 && checkedCount_ == enabled);
}

void CFileUploaderDialog::checkAll() {
  CCheckBoxUI* header = asCheck(find("listheader_checkbtn"));
  bool all = header && header->GetCheck();
  int count = 0;
  for (RowMap::iterator it = rows_.begin(); it != rows_.end(); ++it) {
    CControlUI* c = sub(it->second, "fui_check");
    if (c == nullptr || !c->IsEnabled()) continue;
    setCheck(c, all);
    if (all) ++count;
  }
  checkedCount_ = count;
  enableInsert(all && count >= 1);
}

void CFileUploaderDialog::enableInsert(bool enable) {
  CButtonUI* b = asButton(find("insert_enclosure_btn"));
  if (b == nullptr) return;
  b->SetNormalImage(enable ? kInsertNormal : kInsertDisabled);
  b->SetHotImage(enable ? kInsertHot : kInsertDisabled);
  b->SetEnabled(enable);
}

// ---- UI thread: rows --------------------------------------------------------------------------

CListContainerElementUI* CFileUploaderDialog::buildRow(const std::string& name, UINT_PTR kind) {
  CListUI* l = list();
  if (l == nullptr) return nullptr;
  CDialogBuilder builder;
  CControlUI* built = builder.Create(_T("FileUploaderItem.xml"), nullptr, this, &m_PaintManager);
  CListContainerElementUI* row =
      built ? static_cast<CListContainerElementUI*>(built->GetInterface("ListContainerElement")) : nullptr;
  if (row == nullptr) {
    delete built;
    IM_LOG_ERROR("CFileUploaderDialog, [status = row not built, reason = FileUploaderItem.xml]");
    return nullptr;
  }
  row->SetTag(kind);
  if (!l->Add(row)) {
    delete row;
    return nullptr;
  }
  rows_[lowerName(name)] = row;
  return row;
}

void CFileUploaderDialog::addFileRows(const std::vector<NetDiskFileItem>& files) {
  for (const NetDiskFileItem& item : files) {
    CListContainerElementUI* row = findRow(item.name);  // a listing again refreshes its rows
    if (row == nullptr) row = buildRow(item.name, kFileRow);
    if (row == nullptr) continue;
    row->SetTag(kFileRow);
    fillFileRow(row, item);
    setOperatorState(row, item.nocomplete ? 1 : 0);
  }
}

void CFileUploaderDialog::addUploadRows(const std::vector<UploadTaskStatus>& tasks) {
  for (const UploadTaskStatus& task : tasks) {
    CListContainerElementUI* row = findRow(task.relpath);
    if (row == nullptr) row = buildRow(task.relpath, kUploadRow);
    if (row == nullptr) continue;
    row->SetTag(kUploadRow);
    fillUploadRow(row, task);
    setOperatorState(row, task.state);
  }
}

void CFileUploaderDialog::addUploadRow(const UploadTaskStatus& task) {
  if (findRow(task.relpath) != nullptr) {
    pwsys::MessageBoxA(m_hWnd, "上传列表已存在要添加上传的文件", "Postwing", pwsys::MB_OK);
  } else if (CListContainerElementUI* row = buildRow(task.relpath, kUploadRow)) {
    fillUploadRow(row, task);
    setOperatorState(row, task.state);
  }
  orderList();
}

void CFileUploaderDialog::refreshUpload(const UploadTaskStatus& task) {
  CListContainerElementUI* row = findRow(task.relpath);
  if (row == nullptr) return;
  fillUploadRow(row, task);
  if (task.state == UploadTaskStatus::FINISHED) {
    setOperatorState(row, UploadTaskStatus::FINISHED);
    orderList();
  }
}

void CFileUploaderDialog::setRowOperator(const std::string& name, int state) {
  if (CListContainerElementUI* row = findRow(name)) setOperatorState(row, state);
}

void CFileUploaderDialog::fillFileRow(CListContainerElementUI* row, const NetDiskFileItem& item) {
  bool finished = item.nocomplete;
  if (CControlUI* name = sub(row, "fui_filename")) {
    name->SetText(item.name.c_str());
    name->SetToolTip(item.name.c_str());
  }
  CControlUI* size = sub(row, "fui_filesize");
  if (!finished) {
    if (CButtonUI* check = asButton(sub(row, "fui_check"))) {
      check->SetNormalImage(kCheckDisabled);
      check->SetHotImage(kCheckDisabled);
      check->SetEnabled(false);
    }
    if (size) size->SetText("");
  } else {
    if (CControlUI* slider = sub(row, "fui_slider")) slider->SetVisible(false);
    if (size) size->SetText(sizeText(item.size).c_str());
  }
  if (CControlUI* expire = sub(row, "fui_expire")) expire->SetText(item.created.c_str());
  if (CControlUI* status = sub(row, "fui_status")) {
    status->SetText(finished ? "已完成" : "未完成");
    status->SetTag(finished ? 1 : 0);
  }
}

void CFileUploaderDialog::fillUploadRow(CListContainerElementUI* row, const UploadTaskStatus& task) {
  bool finished = task.state == UploadTaskStatus::FINISHED;
  if (CButtonUI* check = asButton(sub(row, "fui_check"))) {
    if (finished) {
      check->SetNormalImage(kCheckNormal);
      check->SetHotImage(kCheckNormal);
      if (!check->IsEnabled()) {
        check->SetEnabled(true);
        CCheckBoxUI* box = asCheck(check);
        if (box && !box->GetCheck()) {
          setCheck(box, true);
          ++checkedCount_;
        }
        enableInsert(true);
      }
    } else {
      check->SetNormalImage(kCheckDisabled);
      check->SetHotImage(kCheckDisabled);
      check->SetEnabled(false);
    }
  }
  if (CControlUI* name = sub(row, "fui_filename")) {
    name->SetText(task.relpath.c_str());
    name->SetToolTip(task.relpath.c_str());
  }
  if (CProgressUI* slider = asProgress(sub(row, "fui_slider"))) {
    int value = 0;
    if (task.fileLength > 0)
      value = static_cast<int>(static_cast<double>(task.transferred) * 100 / static_cast<double>(task.fileLength));
    if (value > slider->GetValue()) slider->SetValue(value);
    if (finished) slider->SetVisible(false);
  }
  if (CControlUI* size = sub(row, "fui_filesize")) {
    if (finished) {
      size->SetText(sizeText(task.fileLength).c_str());
    } else if (task.transferred > static_cast<int64_t>(size->GetTag())) {
      char buf[96];
      double t = static_cast<double>(task.transferred), n = static_cast<double>(task.fileLength);
      if (task.fileLength >= 1048576)
        snprintf(buf, sizeof(buf), "%.2fM/%.2fM", t / 1048576, n / 1048576);
      else if (task.fileLength >= 1024)
        snprintf(buf, sizeof(buf), "%.2fK/%.2fK", t / 1024, n / 1024);
      else
        snprintf(buf, sizeof(buf), "%dB/%dB", static_cast<int>(task.transferred), static_cast<int>(task.fileLength));
      size->SetText(buf);
      size->SetTag(static_cast<UINT_PTR>(task.transferred));
    }
  }
  if (CControlUI* expire = sub(row, "fui_expire"))
    if (expire->GetText().IsEmpty()) expire->SetText(task.date.c_str());
  if (CControlUI* status = sub(row, "fui_status")) {
    if (task.state >= 0 && task.state <= 3) {
      showUploadStatus(row, task.state);
      status->SetTag(task.state == 3 ? 1 : 0);
    } else {
      status->SetText("");
    }
  }
}

void CFileUploaderDialog::showUploadStatus(CListContainerElementUI* row, int state) {
  CControlUI* status = sub(row, "fui_status");
  if (status == nullptr) return;
  switch (state) {
    case 0: status->SetText("暂停中"); break;
    case 1: status->SetText("正上传"); break;
    case 2: status->SetText("等待上传"); break;
    case 3: status->SetText("已完成"); break;
    default: return;
  }
}

void CFileUploaderDialog::setOperatorState(CListContainerElementUI* row, int state) {
  CButtonUI* op = asButton(sub(row, "fui_operator"));
  CControlUI* status = sub(row, "fui_status");
  if (row->GetTag() == kFileRow) {
    if (status) {
      status->SetText(state == 0 ? "未完成" : "已完成");
      status->SetTag(state != 0 ? 1 : 0);
    }
    if (op) {
      if (state == 0) {
        op->SetNormalImage(kStartNormal);
        op->SetHotImage(kStartHot);
      }
      op->SetEnabled(state == 0);
      op->SetTag(0);
    }
    return;
  }
  if (status) {
    showUploadStatus(row, state);
    status->SetTag(state == 3 ? 1 : 0);
  }
  if (op) {
    if (state == 0) {
      op->SetNormalImage(kStartNormal);
      op->SetHotImage(kStartHot);
    } else if (state == 1 || state == 2) {
      op->SetNormalImage(kPauseNormal);
      op->SetHotImage(kPauseHot);
    }
    op->SetTag(static_cast<UINT_PTR>(state));
    op->SetEnabled(state != 3);
  }
}

void CFileUploaderDialog::removeRow(const std::string& name) {
  std::string key = lowerName(name);
  RowMap::iterator it = rows_.find(key);
  if (it == rows_.end()) return;
  CListContainerElementUI* row = it->second;
  CCheckBoxUI* check = asCheck(sub(row, "fui_check"));
  if (check && check->GetCheck()) {
    --checkedCount_;
    if (checkedCount_ < 1) {
      checkedCount_ = 0;
      enableInsert(false);
    }
  }
  rows_.erase(it);
  hits_.erase(key);
  if (CListUI* l = list()) l->Remove(row);
  orderList();
}

void CFileUploaderDialog::orderList() {
  CListUI* l = list();
  if (l == nullptr) return;
  const RowMap& rows = searching_ ? hits_ : rows_;
  int position = 0;
  for (UINT_PTR group = 0; group < 2; ++group)
    for (RowMap::const_iterator it = rows.begin(); it != rows.end(); ++it) {
      CControlUI* status = sub(it->second, "fui_status");
      UINT_PTR tag = status ? status->GetTag() : 0;
      if ((tag == 1) == (group == 1)) l->SetItemIndex(it->second, position++);
    }
}

// ---- UI thread: helpers -----------------------------------------------------------------------

bool CFileUploaderDialog::anyOperatorTag(int tag) const {
  for (RowMap::const_iterator it = rows_.begin(); it != rows_.end(); ++it) {
    CControlUI* op = sub(it->second, "fui_operator");
    if (op && op->GetTag() == static_cast<UINT_PTR>(tag)) return true;
  }
  return false;
}

int CFileUploaderDialog::showHint(const char* text, const char* title, const char* image, bool cancel) {
  return ShowHintDialog(mainWindow_, text, m_hWnd, title, image, cancel);
}

CControlUI* CFileUploaderDialog::find(const char* name) const {
  return const_cast<CPaintManagerUI&>(m_PaintManager).FindControl(name);
}

CListUI* CFileUploaderDialog::list() const {
  CControlUI* c = find("fileuploaderlist");
  return c ? static_cast<CListUI*>(c->GetInterface("List")) : nullptr;
}

CListContainerElementUI* CFileUploaderDialog::findRow(const std::string& name) const {
  RowMap::const_iterator it = rows_.find(lowerName(name));
  return it == rows_.end() ? nullptr : it->second;
}

CControlUI* CFileUploaderDialog::sub(CListContainerElementUI* row, const char* name) {
  return row ? row->FindSubControl(name) : nullptr;
}

CListContainerElementUI* CFileUploaderDialog::rowOf(CControlUI* control) {
  for (CControlUI* c = control; c != nullptr; c = c->GetParent())
    if (void* row = c->GetInterface("ListContainerElement")) return static_cast<CListContainerElementUI*>(row);
  return nullptr;
}

std::string CFileUploaderDialog::shownName(CListContainerElementUI* row) {
  CControlUI* name = sub(row, "fui_filename");
  return name ? name->GetText().str() : std::string();
}
