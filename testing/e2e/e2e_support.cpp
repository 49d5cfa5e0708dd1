#include "E2eSupport.h"

#include "addressbook/AddressBookClient.h"
#include "app/AppMessages.h"
#include "db/LocalDb.h"
#include "hook/PostwingUiAgent.h"
#include "sso/SsoClient.h"
#include "sso/SsoCookieManager.h"
#include "testing/ProcessHome.h"
#include "util/Config.h"
#ifdef PW_HAVE_NETDISK_CLIENT
#include "client/NetDiskClient.h"
#endif

#include <ace/INET_Addr.h>
#include <ace/Message_Block.h>
#include <ace/SOCK_Connector.h>
#include <ace/SOCK_Stream.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace e2e {

const char* const kAlice = "alice@corp.example";
const char* const kAlicePassword = "s3cret!";

namespace {

const char kHomePrefix[] = "pw_e2e_";

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    homeDir();
    // The skins of the source tree ("skin\xml\" under it).
    DuiLib::CPaintManagerUI::SetResourcePath(PW_SOURCE_DIR);
  }
  void TearDown() override {
    pwtest::removeProcessHome(homeDir(), kHomePrefix);
  }
};

// Registered before main runs, so the folder exists before any test touches a known folder.
::testing::Environment* const kEnvironment = (homeDir(), ::testing::AddGlobalTestEnvironment(new Environment));

std::atomic<DWORD> g_nextMailPid{400};

}  // namespace

// Alice's buddy document on the XCAP server (UTF-8, as the server sends it). One address
// holds Chinese characters, so the road carries them from the XML to the compose window.
const std::string& aliceBuddyDocument() {
  static const std::string doc = u8R"(<?xml version="1.0" encoding="UTF-8"?>
<resource-lists xmlns="urn:ietf:params:xml:ns:resource-lists">
  <list name="organization">
    <display-name>示例公司</display-name>
    <list name="rd">
      <display-name>研发部</display-name>
      <entry uri="zhangsan@corp.example"><display-name>张三</display-name></entry>
      <entry uri="lisi@corp.example"><display-name>李四</display-name></entry>
      <entry uri="王五@corp.example"><display-name>王五</display-name></entry>
    </list>
    <entry uri="erin@corp.example"><display-name>Erin</display-name></entry>
  </list>
</resource-lists>
)";
  return doc;
}

const std::string& homeDir() {
  static const std::string home = pwtest::makeProcessHome(kHomePrefix);
  return home;
}

std::string freshDir(const std::string& name) {
  static std::atomic<int> serial{0};
  std::string dir = homeDir() + "/" + name + "-" + std::to_string(++serial);
  mkdir(dir.c_str(), 0700);
  return dir;
}

std::string writeFile(const std::string& folder, const std::string& name, size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 4096 * 7 + 11) & 0xff);
  std::ofstream out(folder + "/" + name, std::ios::binary | std::ios::trunc);
  out << bytes;
  return bytes;
}

// ---- RawPeer ------------------------------------------------------------------------------------
struct RawPeer::Stream {
  ACE_SOCK_Stream socket;
};

RawPeer::RawPeer(int port) : stream_(new Stream()) {
  ACE_SOCK_Connector connector;
  ACE_Time_Value timeout(5);
  ok_ = connector.connect(stream_->socket, ACE_INET_Addr(u_short(port), ACE_UINT32(INADDR_LOOPBACK)), &timeout) == 0;
}

RawPeer::~RawPeer() { stream_->socket.close(); }

bool RawPeer::send(const PW_Message& message) {
  ACE_Message_Block block;
  if (message.encode(block) != 0) return false;
  ACE_Time_Value timeout(5);
  return ok_ && stream_->socket.send_n(block.rd_ptr(), block.length(), MSG_NOSIGNAL, &timeout) == ssize_t(block.length());
}

// ---- Road ---------------------------------------------------------------------------------------
Road::Road() = default;
Road::~Road() = default;

void Road::SetUp() {
  ASSERT_TRUE(sso_.isListening());
  ASSERT_TRUE(xcap_.isListening());
  ASSERT_TRUE(disk_.isListening());
  w32subst::setScreenSize(1920, 1080);
  PostwingWindRegistry::setPollPeriodMs(50);
  sso_.addUser(kAlice, kAlicePassword);
  xcap_.requireSso(true);
  xcap_.putDocument(std::string("resource-lists/myusers/") + kAlice + "/buddys", aliceBuddyDocument());
  Config* c = Config::instance();
  c->setValue("SSO", "server", sso_.hostPort());
  c->setValue("SSO", "httpTimeout", "5");
  c->setValue("XCAP", "server", xcap_.hostPort());
  c->setValue("XCAP", "recvTimeout", "5");
  c->setValue("XCAP", "sendTimeout", "5");
  c->setValue("VASTO", "spaceServer", disk_.hostPort());
  c->setValue("VASTO", "httpTimeout", "5");
  c->setValue("COMMON", "listenPort", "0");  // a free port; the agents are told which
  w32subst::resetClipboard();
  taskbar_.reset(new pwtest::FakeTaskbar());
  mailPid_ = g_nextMailPid.fetch_add(10);
  mail_.reset(new pwtest::FakeMailClient(mailPid_));
}

void Road::TearDown() {
  closeProgram();
  w32subst::setMenuDriver(nullptr);
  mail_.reset();
  if (mailPid_) w32subst::ProcessLocal<PostwingUiAgent>::getFor(mailPid_).shutdown();
  registryOf(kDesktop).dropDeadRoots();
  taskbar_.reset();
  shutdownServices();
  w32subst::resetClipboard();
  PostwingUiAgent::setPortOverride(0);
  PostwingWindRegistry::setPollPeriodMs(500);
  Config* c = Config::instance();
  for (const char* key : {"server", "httpTimeout"}) c->removeValue("SSO", key);
  for (const char* key : {"server", "recvTimeout", "sendTimeout"}) c->removeValue("XCAP", key);
  for (const char* key : {"spaceServer", "httpTimeout"}) c->removeValue("VASTO", key);
  c->removeValue("COMMON", "listenPort");
}

void Road::shutdownServices() {
  // The services the program never stops: ended here so that the next test's servers are read.
  AddressBookClient::instance()->clear();
  AddressBookClient::instance()->stopAgent();
#ifdef PW_HAVE_NETDISK_CLIENT
  NetDiskClient::instance()->shutdown();
#endif
  LocalDb::instance()->close();
  SsoClient::destroy();
  SsoCookieManager::clearCookie(kAlice);  // the next server knows nothing of them
}

void Road::startProgram() {
  ui_.reset(new w32subst::UiThread(kDesktop));
  ui_->run([this] {
    main_ = new CLoginDialog();
    mainHwnd_ = main_->Create(nullptr, "Postwing", PW_APP_DIALOG_STYLE, 0x60010, 0, 0, 556, 843);
    if (mainHwnd_) main_->tray().create(nullptr, mainHwnd_, "Postwing", nullptr);
  });
  ASSERT_TRUE(mainHwnd_ != nullptr);
  ASSERT_GT(server()->listenPort(), 0);
  PostwingUiAgent::setPortOverride(server()->listenPort());
  ASSERT_TRUE(ui_->waitIdle(10000));
}

void Road::closeProgram() {
  if (!ui_) return;
  if (IsWindow(mainHwnd_)) PostMessageA(mainHwnd_, WM_CLOSE, 0, 0);
  EXPECT_TRUE(w32subst::waitUntil([this] { return programEnded(); }, 15000));
  ui_.reset();
}

void Road::onUi(const std::function<void()>& fn) { ASSERT_TRUE(ui_->run(fn)); }

void Road::postUi(const std::function<void()>& fn) { ASSERT_TRUE(w32subst::postToThread(ui_->threadId(), fn)); }

void Road::typeAndLogin(const std::string& user, const std::string& password) {
  onUi([&] {
    DuiLib::WindowImplBase& w = *main_;
    DuiLib::CControlUI* userEdit = A::Find(w, "InputUseridEdt");
    userEdit->SetText("");
    A::Focus(userEdit);
    A::TypeText(userEdit, user.c_str());
    A::Focus(A::Find(w, "InputPasswordEdt"));
    A::TypeText(A::Find(w, "InputPasswordEdt"), password.c_str());
    A::Blur(A::Find(w, "InputPasswordEdt"));
  });
  // Posted: the login runs on the main thread and may open boxes and dialogs.
  postUi([this] { A::Click(A::Find(*main_, "LoginBtn")); });
}

bool Road::login(const std::string& user, const std::string& password) {
  typeAndLogin(user, password);
  return w32subst::waitUntil([this] { return loggedIn(); }, 15000);
}

pwtest::ComposeWindow Road::openCompose(pwtest::MailKind kind, const pwtest::ComposeOptions& options) {
  // Built hidden and shown once whole, as a mail client shows its compose form: a poll that
  // met the window half-built would make the object before its controls exist.
  pwtest::ComposeOptions hidden = options;
  hidden.visible = false;
  pwtest::ComposeWindow w = mail_->openCompose(kind, hidden);
  if (options.visible) mail_->show(w.root);
  HWND root = w.root;
  long id = (long)(intptr_t)root;
  auto shared = [kind] {
    return kind == pwtest::MailKind::Outlook ? g_hOutlookHwnd.load() : g_hFoxmailHwnd.load();
  };
  EXPECT_TRUE(w32subst::waitUntil([&] {
    return registryOf(kDesktop).find(id) != nullptr && shared() == (uint32_t)(uintptr_t)root;
  }, 10000)) << "the desktop's poll hooks the compose window";
  HWND editor = w.editor;
  mail_->run([editor] { SetFocus(editor); });
  EXPECT_TRUE(w32subst::waitUntil([&] {
    auto wind = registryOf(mailPid_).find(id);
    return wind && (kind != pwtest::MailKind::Foxmail7 || wind->controls().button1 != nullptr);
  }, 10000)) << "the hook library's object in the mail client (with its buttons)";
  return w;
}

PostwingWind::Controls Road::controlsOf(const pwtest::ComposeWindow& w) {
  auto wind = registryOf(mailPid_).find((long)(intptr_t)w.root);
  if (!wind) return PostwingWind::Controls{};
  return wind->controls();
}

}  // namespace e2e
