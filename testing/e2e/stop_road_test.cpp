// The end of the roads: a compose window that closes tells the desktop program, which forgets
// its requests and lets the hook library unhook the mail client; "mailSrvStopped" on a
// connection of the local server ends the program's main window.
#include "E2eSupport.h"

#include "app/AppMessages.h"

using namespace e2e;

namespace {

class Stop : public Road {};

TEST_F(Stop, AClosedComposeWindowIsForgottenAndMailSrvStoppedEndsTheProgram) {
  startProgram();
  ASSERT_TRUE(login(kAlice, kAlicePassword));
  pwtest::ComposeWindow w = openFoxmail7();
  PostwingWind::Controls c = controlsOf(w);
  ASSERT_NE(c.button1, nullptr);
  const std::string handle = std::to_string((long)(intptr_t)w.root);

  // The user asks for the picker and, while it is open, closes the compose window.
  w32subst::click(c.button1, 5, 5);
  ASSERT_TRUE(w32subst::waitUntil([&] { return server()->pendingAddrHandle() == handle; }));
  ASSERT_NE(waitWindow<DuiLib::WindowImplBase>("CAddressBookDialog"), nullptr);
  mail_->close(w.root);
  EXPECT_TRUE(w32subst::waitUntil([&] { return server()->pendingAddrHandle().empty(); }, 10000))
      << "the desktop dropped the closed window's request";
  EXPECT_TRUE(w32subst::waitUntil([&] { return registryOf(kDesktop).find((long)(intptr_t)w.root) == nullptr; }, 10000))
      << "closeWind dropped the desktop's object of that window";
  EXPECT_EQ(w32subst::hookCount(mail_->threadId(), WH_CBT), 0);
  EXPECT_EQ(w32subst::hookCount(mail_->threadId(), WH_CALLWNDPROC), 0);
  EXPECT_EQ(registryOf(mailPid_).size(), 0);
  EXPECT_FALSE(server()->sendSelectedAddr({"late@corp.example"}, {}, {})) << "nobody to answer any more";
  EXPECT_FALSE(programEnded()) << "a closed compose window does not end the program";

  // The picker is still open: confirming it now tells the user the picks cannot arrive.
  auto* picker = waitWindow<DuiLib::WindowImplBase>("CAddressBookDialog");
  ASSERT_NE(picker, nullptr);
  postUi([picker] { A::Click(A::Find(*picker, "okbtn")); });
  auto* box = waitWindow<DuiLib::WindowImplBase>("CHintDialog");
  ASSERT_NE(box, nullptr);
  postUi([box] { A::Click(A::Find(*box, "SureBtn")); });
  EXPECT_TRUE(waitGone("CAddressBookDialog"));

  const int port = server()->listenPort();
  EXPECT_FALSE(programEnded());
  EXPECT_FALSE(w32subst::notifyIcons().empty()) << "the tray icon is there";

  // "mailSrvStopped" (sent by no deliverable of the system) ends the program.
  RawPeer peer(port);
  ASSERT_TRUE(peer.ok());
  PW_Message stop;
  stop.setCommand("mailSrvStopped");
  ASSERT_TRUE(peer.send(stop));
  EXPECT_TRUE(w32subst::waitUntil([&] { return programEnded(); }, 15000)) << "WM_CLOSE ended the main window";
  EXPECT_EQ(server()->listenPort(), 0) << "the destructor stopped the local server";
  EXPECT_TRUE(w32subst::notifyIcons().empty()) << "the tray icon went with the window";
}

}  // namespace
