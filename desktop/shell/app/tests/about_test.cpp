// The about dialog: the version line from the configuration, the buttons that close it, the
// web-page link that leaves it open.
#include "AppTestSupport.h"
#include "app/AboutDialog.h"
#include "app/AppMessages.h"
#include "app/AppPlatform.h"
#include "util/Config.h"
#include "win32/shellexecute.h"

#include <gtest/gtest.h>

namespace A = DuiLib::Automation;

namespace {

struct AboutRun {
  std::string version;
  bool openAfterWebpage = false;
  UINT result = 0;
};

// Runs the dialog modally; the user reads it, follows the link, then presses `closer`.
AboutRun runAbout(const char* closer) {
  AboutRun run;
  CAboutDialog dlg;
  EXPECT_TRUE(dlg.Create(nullptr, "Postwing", PW_APP_DIALOG_STYLE, 0) != nullptr);
  A::ScopedModalAnswer answer([&](DuiLib::WindowImplBase& w) {
    run.version = apptest::textOf(w, "version_info");
    A::Click(A::Find(w, "webpage"));
    A::Pump();
    run.openAfterWebpage = IsWindow(w.GetHWND()) != FALSE;
    A::Click(A::Find(w, closer));
  });
  run.result = dlg.ShowModal();
  EXPECT_FALSE(IsWindow(dlg.GetHWND()));
  return run;
}

TEST(AboutDialog, ShowsTheInstalledVersionAndClosesByEachOfItsButtons) {
  struct Case {
    const char* localversion;  // null: no key
    const char* closer;
    std::string expected;
  } cases[] = {
      {"1.0.3", "FinishBtn", "版本：V1.0.3"},
      {nullptr, "CloseWndBtn", "版本：V"},
      {"2.4.10", "BtnQuit", "版本：V2.4.10"},
      {"", "AboutBtn", "版本：V"},
  };
  for (const Case& c : cases) {
    if (c.localversion)
      Config::instance()->setValue("InstallerUpdate", "localversion", c.localversion);
    else
      Config::instance()->removeValue("InstallerUpdate", "localversion");
    w32subst::clearShellExecuteCalls();
    AboutRun run = runAbout(c.closer);
    EXPECT_EQ(c.expected, run.version) << c.closer;
    EXPECT_TRUE(run.openAfterWebpage) << "the link leaves the dialog open";
    auto calls = w32subst::shellExecuteCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ("open", calls[0].verb);
    EXPECT_EQ("https://www.postwing.example.com/", calls[0].file) << "the skin's user data";
    EXPECT_EQ(SW_SHOWMINIMIZED, calls[0].showCmd);
  }
  Config::instance()->removeValue("InstallerUpdate", "localversion");
}

}  // namespace
