// Without configuration both ends meet on the fixed port 11111 (this test holds that port).
#include "BridgeTestSupport.h"

#include "bridge/PW_PostwingServer.h"
#include "hook/PostwingUiAgent.h"
#include "util/Config.h"

#include <gtest/gtest.h>

#include <memory>

using namespace bridgetest;

TEST(DefaultPort, TheServerListensOnTheAgentsPortWhenNoneIsConfigured) {
  Config::instance()->removeValue("COMMON", "listenPort");
  PostwingUiAgent::setPortOverride(0);
  w32subst::UiThread desktop(kDesktopPid);
  w32subst::UiThread mail(kMailPid);
  HWND main = desktop.call([] { return makeRecordingWindow("main"); });
  HWND root = mail.call([] { return makeRecordingWindow("compose"); });
  PW_PostwingServer* server = PW_PostwingServer::instance();
  server->setMainWindow(main);
  ASSERT_EQ(server->start(), 0);
  EXPECT_EQ(server->listenPort(), PostwingUiAgent::DEFAULT_PORT);
  EXPECT_EQ(server->listenAddress().get_ip_address(), ACE_UINT32(INADDR_LOOPBACK));
  EXPECT_EQ(mail.call([root] { return PostwingUiAgent::instance()->showAttachDialog(root); }), 0);
  EXPECT_TRUE(PostedLog::instance().waitFor(main, WM_PW_SHOWATTACH, 1));
  EXPECT_EQ(server->pendingAttachHandle(), handleText(root));
  w32subst::ProcessLocal<PostwingUiAgent>::getFor(kMailPid).shutdown();
  server->stop();
  server->setMainWindow(nullptr);
  desktop.run([main] { DestroyWindow(main); });
  mail.run([root] { DestroyWindow(root); });
}
