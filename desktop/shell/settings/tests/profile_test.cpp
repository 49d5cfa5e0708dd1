// The profile-file and known-folder calls the settings are built on, with the
// platform's own rules (names without letter case, trimmed and unquoted
// values, counts on truncation, double-NUL lists).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "testing/TempFolder.h"
#include "win32/profile.h"

namespace fs = std::filesystem;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ini_ = dir_.path() + "/p.ini";
    std::ofstream(ini_, std::ios::binary) << "; a comment\n"
                                             "[Common]\n"
                                             "  Name =  spaced value  \n"
                                             "quoted=\"  kept inside  \"\n"
                                             "single='x'\n"
                                             "half=\"open\n"
                                             "number= -42abc\n"
                                             "empty=\n"
                                             "\n"
                                             "[Second]\r\n"
                                             "a=1\r\n";
  }
  std::string get(const char* section, const char* key, const char* def = "", DWORD size = 256) {
    std::vector<char> buf(size + 1, 'X');
    DWORD n = GetPrivateProfileStringA(section, key, def, buf.data(), size, ini_.c_str());
    lastCount_ = n;
    return std::string(buf.data(), n);
  }

  TempFolder dir_;
  std::string ini_;
  DWORD lastCount_ = 0;
};

TEST_F(ProfileTest, ReadsWithThePlatformsRules) {
  struct Case {
    const char* section;
    const char* key;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"Common", "Name", "spaced value"},   {"COMMON", "name", "spaced value"},
      {"common", "quoted", "  kept inside  "}, {"Common", "single", "x"},
      {"Common", "half", "\"open"},          {"Common", "empty", ""},
      {"Second", "A", "1"},                  {"Common", "missing", "dflt"},
      {"Nowhere", "a", "dflt"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, get(c.section, c.key, "dflt  ")) << c.section << "/" << c.key;
  EXPECT_EQ("", get("Common", "missing", nullptr));
  EXPECT_EQ(static_cast<UINT>(-42), GetPrivateProfileIntA("Common", "number", 7, ini_.c_str()));
  EXPECT_EQ(7u, GetPrivateProfileIntA("Common", "Name", 7, ini_.c_str()));
  EXPECT_EQ(7u, GetPrivateProfileIntA("Common", "missing", 7, ini_.c_str()));
  std::string missingFile = dir_.path() + "/none.ini";
  char buf[8];
  EXPECT_EQ(1u, GetPrivateProfileStringA("a", "b", "d", buf, sizeof buf, missingFile.c_str()));
  EXPECT_STREQ("d", buf);
}

TEST_F(ProfileTest, CountsAndListsOnTruncation) {
  EXPECT_EQ("spaced", get("Common", "Name", "", 7));
  EXPECT_EQ(6u, lastCount_);  // size - 1 when cut
  EXPECT_EQ("spaced value", get("Common", "Name", "", 13));
  EXPECT_EQ(12u, lastCount_);

  std::vector<char> buf(64, 'X');
  DWORD n = GetPrivateProfileSectionNamesA(buf.data(), 64, ini_.c_str());
  EXPECT_EQ(std::string("Common\0Second\0", 14), std::string(buf.data(), n));
  EXPECT_EQ('\0', buf[n]);
  n = GetPrivateProfileSectionNamesA(buf.data(), 10, ini_.c_str());
  EXPECT_EQ(8u, n);  // size - 2 when cut, still ended by two NULs
  EXPECT_EQ(std::string("Common\0S\0\0", 10), std::string(buf.data(), 10));
  n = GetPrivateProfileStringA("Second", nullptr, "", buf.data(), 64, ini_.c_str());
  EXPECT_EQ(std::string("a\0", 2), std::string(buf.data(), n));
}

TEST_F(ProfileTest, WritesKeepTheRestOfTheFile) {
  ASSERT_TRUE(WritePrivateProfileStringA("COMMON", "NAME", "new", ini_.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Common", "added", "v", ini_.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Third", "k", "v", ini_.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Common", "single", nullptr, ini_.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Second", nullptr, nullptr, ini_.c_str()));
  EXPECT_EQ("; a comment\r\n[Common]\r\nNAME=new\r\nquoted=\"  kept inside  \"\r\nhalf=\"open\r\n"
            "number= -42abc\r\nempty=\r\nadded=v\r\n\r\n[Third]\r\nk=v\r\n",
            readFile(ini_));
  // A line break would write lines of its own.
  EXPECT_FALSE(WritePrivateProfileStringA("Common", "x", "a\n[Common]\nautoLogin=yes", ini_.c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA("Common", "x\r", "a", ini_.c_str()));
  EXPECT_EQ("", get("Common", "autoLogin"));
  // No folder, no file.
  std::string nowhere = dir_.path() + "/missing/x.ini";
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", nowhere.c_str()));
}

TEST(KnownFolders, DocumentsUnderTheHome) {
  TempFolder home;
  setenv("PW_HOME", home.path().c_str(), 1);
  char path[MAX_PATH];
  ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_PERSONAL, FALSE));
  EXPECT_EQ(home.path() + "/Documents", path);
  EXPECT_TRUE(fs::is_directory(path));
  ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_APPDATA, TRUE));
  EXPECT_EQ(home.path() + "/.config", path);
  LPITEMIDLIST list = nullptr;
  EXPECT_NE(0, SHGetSpecialFolderLocation(nullptr, 0x7777, &list));
  EXPECT_EQ(nullptr, list);

  // HOME when PW_HOME is not set.
  unsetenv("PW_HOME");
  const char* oldHome = getenv("HOME");
  std::string saved = oldHome != nullptr ? oldHome : "";
  setenv("HOME", home.path().c_str(), 1);
  ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_PERSONAL, FALSE));
  EXPECT_EQ(home.path() + "/Documents", path);
  setenv("HOME", saved.c_str(), 1);

  // Short names are the long ones; a small buffer learns the size it needs.
  std::string docs = home.path() + "/Documents";
  char small[4];
  EXPECT_EQ(docs.size() + 1, GetShortPathNameA(docs.c_str(), small, sizeof small));
  EXPECT_EQ(docs.size(), GetShortPathNameA(docs.c_str(), path, MAX_PATH));
  EXPECT_EQ(0u, GetShortPathNameA((docs + "/none").c_str(), path, MAX_PATH));

  // Either separator; GBK names land as UTF-8 names; existing folders fail.
  EXPECT_TRUE(CreateDirectoryA((docs + "\\张三").c_str(), nullptr));
  EXPECT_TRUE(fs::is_directory(docs + u8"/张三"));
  EXPECT_FALSE(CreateDirectoryA((docs + "/张三").c_str(), nullptr));
  struct stat st;
  ASSERT_EQ(0, stat((docs + u8"/张三").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
}

}  // namespace
