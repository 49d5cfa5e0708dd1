// User settings on a home folder of its own (PW_HOME) in a temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "testing/TempFolder.h"
#include "settings/IniFile.h"
#include "settings/UserSettings.h"

namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(home_.path().empty());
    setenv("PW_HOME", home_.path().c_str(), 1);
    folder_ = home_.path() + "/Documents/Postwing/";
  }
  void TearDown() override { unsetenv("PW_HOME"); }

  static std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void writeFile(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  // What the main window does after a successful login.
  static void storeLogin(UserSettings& s, const std::string& user, bool autoLogin, bool remember,
                         const std::string& password) {
    s.userId = user;
    if (autoLogin) {
      s.setRememberPassword(true);
      s.setAutoLogin(true);
      s.setPassword(password);
    } else if (remember) {
      s.setAutoLogin(false);
      s.setRememberPassword(true);
      s.setPassword(password);
    } else {
      s.setRememberPassword(false);
      s.setAutoLogin(false);
      s.setPassword("");
    }
    s.saveUserId();
  }

  TempFolder home_;
  std::string folder_;
};

TEST_F(SettingsTest, FirstRunFindsNothing) {
  UserSettings s;
  ASSERT_TRUE(s.open());
  s.load();
  EXPECT_EQ(folder_, s.getFolder());
  EXPECT_TRUE(fs::is_directory(folder_));
  EXPECT_EQ("", s.getUserId());
  EXPECT_EQ("", s.getStartupRun());
  EXPECT_EQ(folder_ + "personal.ini", s.getPersonalIniPath(""));
  EXPECT_FALSE(s.getAutoLogin(""));
  EXPECT_FALSE(s.getRememberPassword(""));
  EXPECT_EQ("", s.getPassword(""));
}

TEST_F(SettingsTest, LoginsOfTwoUsersAreStoredAndReadBack) {
  struct Case {
    const char* user;
    bool autoLogin, remember;
    std::string password;
    std::string personalIni;  // the file exactly
  };
  const std::vector<Case> cases = {
      {"alice@example.com", true, false, "\xD5\xC5\xC8\xFD",  // GBK password, Base64 1cXI/Q==
       "[COMMON]\r\nrememberPassword=yes\r\nautoLogin=yes\r\nkey=1cXI/Q==\r\nkeylen=4\r\n"},
      {"bob@example.com", false, true, "p4ss'w%rd",
       "[COMMON]\r\nautoLogin=no\r\nrememberPassword=yes\r\nkey=cDRzcyd3JXJk\r\nkeylen=9\r\n"},
      {"carol@example.com", false, false, "typed but not kept",
       "[COMMON]\r\nrememberPassword=no\r\nautoLogin=no\r\nkey=\r\nkeylen=0\r\n"},
  };
  {
    UserSettings s;
    s.open();
    s.load();
    for (const Case& c : cases) storeLogin(s, c.user, c.autoLogin, c.remember, c.password);
  }
  EXPECT_EQ("[COMMON]\r\nuserId=carol@example.com\r\n", readFile(folder_ + "Postwing.ini"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    EXPECT_EQ(c.personalIni, readFile(folder_ + c.user + "/personal.ini"));
    // The next start reads them as the login window does.
    UserSettings next;
    next.open();
    next.load();
    EXPECT_EQ("carol@example.com", next.getUserId());
    EXPECT_EQ(c.autoLogin, next.getAutoLogin(c.user));
    EXPECT_EQ(c.autoLogin || c.remember, next.getRememberPassword(c.user));
    EXPECT_EQ(c.autoLogin || c.remember ? c.password : "", next.getPassword(c.user));
  }
  // The remembered password is kept from other users of the machine.
  struct stat st;
  ASSERT_EQ(0, stat((folder_ + "alice@example.com/personal.ini").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  ASSERT_EQ(0, stat((folder_ + "alice@example.com").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
}

TEST_F(SettingsTest, StoredTextsReadAsTheyMust) {
  struct Case {
    const char* what;
    std::string personalIni;
    bool autoLogin;
    std::string password;
  };
  const std::vector<Case> cases = {
      {"key with keylen 0", "[COMMON]\nautoLogin=yes\nkey=MTIz\nkeylen=0\n", true, ""},
      {"keylen missing", "[COMMON]\nkey=MTIz\n", false, ""},
      {"key missing", "[COMMON]\nkeylen=3\n", false, ""},
      {"not Base64", "[COMMON]\nkey=@@not*base64@@\nkeylen=5\n", false, ""},
      {"blanks and case of names", "[common]\n  KEY = MTIz  \nKeyLen=3\nautologin=yes\n", true, "123"},
      {"flag YES", "[COMMON]\nautoLogin=YES\n", false, ""},
      {"flag Yes", "[COMMON]\nautoLogin=Yes\n", false, ""},
      {"flag 1", "[COMMON]\nautoLogin=1\n", false, ""},
      {"flag true", "[COMMON]\nautoLogin=true\n", false, ""},
      {"flag in another section", "[OTHER]\nautoLogin=yes\n", false, ""},
  };
  UserSettings s;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(folder_ + "u@example.com/personal.ini", c.personalIni);
    EXPECT_EQ(c.autoLogin, s.getAutoLogin("u@example.com"));
    EXPECT_EQ(c.password, s.getPassword("u@example.com"));
  }
}

TEST_F(SettingsTest, LongValuesComeBackWhole) {
  UserSettings s;
  s.open();
  s.userId = "long@example.com";
  const std::string password(300, 'p');  // Base64 text of 400 characters
  s.setPassword(password);
  EXPECT_EQ(password, s.getPassword("long@example.com"));

  IniFile ini;
  ini.setPath(folder_ + "long.ini");
  ASSERT_TRUE(ini.writeString("S", "k", std::string(300, 'v')));
  EXPECT_EQ(std::string(300, 'v'), ini.getString("k", "S"));
  EXPECT_EQ(300, ini.getLastResult());
}

TEST_F(SettingsTest, UnsafeUserIdsReachNoFile) {
  // A planted file one level above the settings folder.
  writeFile(home_.path() + "/Documents/x/personal.ini", "[COMMON]\nautoLogin=yes\nkey=MTIz\nkeylen=3\n");
  UserSettings s;
  s.open();
  for (const char* id : {"../x", "..\\x", "..", "a/b", "c:\\x"}) {
    SCOPED_TRACE(id);
    EXPECT_EQ("", s.getPersonalIniPath(id));
    EXPECT_FALSE(s.getAutoLogin(id));
    EXPECT_EQ("", s.getPassword(id));
    s.userId = id;
    EXPECT_EQ(0, s.writePersonal("autoLogin", "yes", "COMMON"));
    s.setPassword("secret");
  }
  EXPECT_EQ("[COMMON]\nautoLogin=yes\nkey=MTIz\nkeylen=3\n", readFile(home_.path() + "/Documents/x/personal.ini"));
  std::vector<std::string> made;
  for (const auto& e : fs::recursive_directory_iterator(home_.path())) made.push_back(e.path().string());
  EXPECT_EQ(4u, made.size());  // Documents, Documents/Postwing, Documents/x and its file
  // A mail address names its folder as typed.
  EXPECT_EQ(folder_ + "zhang.san@example.com/personal.ini", s.getPersonalIniPath("zhang.san@example.com"));
  EXPECT_TRUE(fs::is_directory(folder_ + "zhang.san@example.com"));
}

TEST_F(SettingsTest, WithoutDocumentsFolderNothingIsKept) {
  std::string blocker = home_.path() + "/file";
  writeFile(blocker, "x");
  setenv("PW_HOME", blocker.c_str(), 1);
  UserSettings s;
  EXPECT_TRUE(s.open());
  EXPECT_EQ("", s.getFolder());
  s.userId = "u@example.com";
  s.setAutoLogin(true);
  s.saveUserId();
  s.load();
  EXPECT_EQ("", s.getUserId());
  EXPECT_FALSE(s.getAutoLogin("u@example.com"));
  EXPECT_FALSE(fs::exists("/Postwing"));
}

TEST_F(SettingsTest, StartupRunIsReadAndNeverWritten) {
  writeFile(folder_ + "Postwing.ini", "[QSYSSET]\nstartuprun=1\n[COMMON]\nuserId=u@example.com\n");
  UserSettings s;
  s.open();
  s.load();
  EXPECT_EQ("1", s.getStartupRun());
  EXPECT_EQ("u@example.com", s.getUserId());
  s.saveUserId();
  EXPECT_EQ("[QSYSSET]\r\nstartuprun=1\r\n[COMMON]\r\nuserId=u@example.com\r\n", readFile(folder_ + "Postwing.ini"));
}

}  // namespace
