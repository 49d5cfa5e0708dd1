// CFileUploaderDialog: the large-attachment window. It lists the user's net-disk files and the
// current uploads in one list, uploads chosen local files, pauses, resumes and deletes entries,
// searches the list, and inserts the download links of the checked files into the mail that
// asked for it (through the local server, which puts them on the clipboard).
//
// Thread rules:
// - The window, its controls, the row maps and checkedCount_ belong to the UI thread (the
//   thread that created the window); every public method but the listener callbacks is UI
//   thread only.
// - The INetDiskClientListener callbacks run on the net-disk engine thread. They touch no
//   control: an error is posted as WM_PW_UPLOADEVENT (code in wParam); every other effect is
//   copied into pending_ and announced by one posted WM_PW_NETDISKEVENT each, so that the UI
//   thread applies them one by one in the order they arrived.
// - eventLock_ guards pending_ and eventWindow_; posting happens under it, so the order of
//   the queue and of the posted messages is one. The engine thread takes it while it holds
//   the client's listener lock; the UI thread never takes the listener lock while holding it.
#pragma once

#include "client/INetDiskClientListener.h"
#include "duilib/UIlib.h"

#include <ace/Thread_Mutex.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#define WM_PW_UPLOADEVENT 0x922   // an error code of the net-disk client (wParam)
#define WM_PW_CHECKALL 0x947      // the header check box changed: check or uncheck all
#define WM_PW_NETDISKEVENT 0x948  // one queued effect of the net-disk client

class CFileUploaderDialog : public DuiLib::WindowImplBase, public INetDiskClientListener {
 public:
  static const DWORD kWindowStyle = 0x96C80000;
  static const int kMaxInsert = 100;  // files inserted at once
  static const int kNameBufferSize = 20800;

  // mainWindow: owner of the message boxes (may be null); userMail: shown in the title.
  CFileUploaderDialog(DuiLib::CWindowWnd* mainWindow, const std::string& userMail);
  ~CFileUploaderDialog() override;

  LPCTSTR GetWindowClassName() const override { return _T("CFileUploaderDialog"); }
  DuiLib::CDuiString GetSkinFolder() override { return _T("skin\\xml\\"); }
  DuiLib::CDuiString GetSkinFile() override { return _T("FileUploaderDialog.xml"); }
  void Notify(DuiLib::TNotifyUI& msg) override;
  DuiLib::CControlUI* CreateControl(LPCTSTR pstrClass) override;

  // Engine thread (INetDiskClientListener).
  void onListFile(const std::vector<NetDiskFileItem>& files, int error) override;
  void onRenameFile(const std::string& oldName, const std::string& newName, int error) override;
  void onDeleteFile(const std::string& name, int error) override;
  void onListUploadTask(const std::vector<UploadTaskStatus>& tasks, int error) override;
  void onUploadStatus(const UploadTaskStatus& task, int error) override;
  void onAddUploadTask(const UploadTaskStatus& task, int error) override;
  void onPauseUpload(const UploadTaskStatus& task, int error) override;
  void onResumeUpload(const UploadTaskStatus& task, int error) override;
  void onCancelUpload(const std::string& name, int error) override;
  void onDownloadUrl(const std::map<std::string, std::string>& links) override;

  // UI thread: the row of that name (any case), or null; the number of checked rows.
  DuiLib::CListContainerElementUI* findRow(const std::string& name) const;
  int checkedCount() const { return checkedCount_; }

  // The error texts by code ("" for codes without one).
  static std::string errorText(int code);
  // Lower case of ASCII letters outside double-byte GBK characters.
  static std::string lowerName(const std::string& gbk);
  // True when needle occurs in haystack starting at a character boundary (GBK).
  static bool containsText(const std::string& haystack, const std::string& needle);
  // "%.2fM", "%.2fK" or "%dB" of a size.
  static std::string sizeText(int64_t size);

 protected:
  LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  void OnFinalMessage(HWND hWnd) override;

 private:
  typedef std::map<std::string, DuiLib::CListContainerElementUI*> RowMap;

  // One listener effect, copied on the engine thread.
  struct Event {
    enum Kind {
      LIST_FILE, DELETE_FILE, DELETE_FAILED, LIST_UPLOADS, UPLOAD_STATUS, ADD_UPLOAD, PAUSED, RESUMED, LINKS
    };
    Kind kind = LIST_FILE;
    std::vector<NetDiskFileItem> files;
    std::vector<UploadTaskStatus> tasks;  // one task for the single-task kinds
    std::string name;
    std::map<std::string, std::string> links;
  };

  // Engine thread.
  void queueEvent(const Event& e);
  void postError(int error);

  // UI thread.
  void onWindowInit();
  void applyEvent(const Event& e);
  void showError(int code);
  void setInformation(const std::string& text, DWORD color);
  void onClick(DuiLib::CControlUI* sender);
  void requestClose();
  void chooseFiles();
  void search();
  void insert();
  void sendLinks(const std::map<std::string, std::string>& links);
  void openLink(const ENLINK& link);
  void restoreDeletedRow(const std::string& name);
  void showProgressOf(DuiLib::CListContainerElementUI* row, const UploadTaskStatus& task);
  void checkAll();
  void onRowCheckChanged(DuiLib::CControlUI* check);
  void onOperatorClicked(DuiLib::CListContainerElementUI* row, DuiLib::CControlUI* button);
  void onDeleteClicked(DuiLib::CListContainerElementUI* row);
  void addFileRows(const std::vector<NetDiskFileItem>& files);
  void addUploadRows(const std::vector<UploadTaskStatus>& tasks);
  void addUploadRow(const UploadTaskStatus& task);
  void refreshUpload(const UploadTaskStatus& task);
  void setRowOperator(const std::string& name, int state);
  void removeRow(const std::string& name);
  DuiLib::CListContainerElementUI* buildRow(const std::string& name, UINT_PTR kind);
  void fillFileRow(DuiLib::CListContainerElementUI* row, const NetDiskFileItem& item);
  void fillUploadRow(DuiLib::CListContainerElementUI* row, const UploadTaskStatus& task);
  void setOperatorState(DuiLib::CListContainerElementUI* row, int state);
  void showUploadStatus(DuiLib::CListContainerElementUI* row, int state);  // fui_status text
  void orderList();
  void enableInsert(bool enable);
  void setCheck(DuiLib::CControlUI* check, bool checked);  // without counting it twice
  bool anyOperatorTag(int tag) const;
  int showHint(const char* text, const char* title, const char* image, bool cancel);
  DuiLib::CControlUI* find(const char* name) const;
  DuiLib::CListUI* list() const;
  static DuiLib::CControlUI* sub(DuiLib::CListContainerElementUI* row, const char* name);
  static DuiLib::CListContainerElementUI* rowOf(DuiLib::CControlUI* control);
  static std::string shownName(DuiLib::CListContainerElementUI* row);

  DuiLib::CWindowWnd* mainWindow_;
  std::string userMail_;

  // UI thread.
  RowMap rows_;        // every row, by lower-case name
  RowMap hits_;        // rows matching the last search
  bool searching_ = false;
  int checkedCount_ = 0;
  bool settingCheck_ = false;  // a check box is being set from code: its notification is ours
  bool listening_ = false;
  // What a row showed before its deletion was asked for, by lower-case name.
  struct RowBeforeDeletion {
    std::string status;
    UINT_PTR statusTag = 0;
    bool deleteVisible = true;
    bool operatorVisible = true;
  };
  std::map<std::string, RowBeforeDeletion> deleting_;
  std::vector<std::string> linkNames_;  // the names of the last insert, whose links are awaited

  // eventLock_ guards pending_ and eventWindow_.
  ACE_Thread_Mutex eventLock_;
  std::deque<Event> pending_;
  HWND eventWindow_ = nullptr;  // where the callbacks post; null once the window ends
};
