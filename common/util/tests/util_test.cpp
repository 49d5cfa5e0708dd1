#include "util/CodingTransform.h"
#include "util/Config.h"
#include "util/StringParser.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// ---- CodingTransform -------------------------------------------------------------------

struct EncodeCase {
  const char* in;
  bool formMode;
  const char* out;
};

TEST(CodingTransform, UrlencodeTable) {
  const EncodeCase cases[] = {
      // query values and local-protocol fields
      {"abcXYZ019-_.~", true, "abcXYZ019-_.~"},
      {"a b", true, "a+b"},
      {"a+b", true, "a%2Bb"},
      {"/?#&=%@';[", true, "%2F%3F%23%26%3D%25%40%27%3B%5B"},
      {"\xD5\xC5", true, "%D5%C5"},
      {"x\r\n\x7F", true, "x%0D%0A%7F"},
      {"", true, ""},
      // request paths: '/' and the node-selector characters stay
      {"/a b/c", false, "/a%20b/c"},
      {"/users/sip:joe@example.com/index/~~/resource-lists/list[@name=\"friends\"]", false,
       "/users/sip:joe@example.com/index/~~/resource-lists/list%5B@name=%22friends%22%5D"},
      // "?" and "#" would end the path and "%" would start an escape: all three are escaped
      {"list[@name='a?b']", false, "list%5B@name='a%3Fb'%5D"},
      {"xmlns(p=urn:ietf:params:xml:ns:resource-lists)", false,
       "xmlns(p=urn:ietf:params:xml:ns:resource-lists)"},
      {"!$&'()*,;=", false, "!$&'()*,;="},
      {"a+b", false, "a%2Bb"},  // escaped so that urldecode gives it back,
      {"\"<>\\^`{|}#%", false, "%22%3C%3E%5C%5E%60%7B%7C%7D%23%25"},
      {"\xE5\xBC\xA0", false, "%E5%BC%A0"},
  };
  for (const EncodeCase& c : cases) {
    EXPECT_EQ(c.out, CodingTransform::urlencode(c.in, c.formMode, false))
        << "in=" << c.in << " formMode=" << c.formMode;
  }
}

TEST(CodingTransform, UrlencodeKeepsEscapesOnlyWhenAsked) {
  EXPECT_EQ("a%252F%25zz", CodingTransform::urlencode("a%2F%zz", true, false));
  EXPECT_EQ("a%2F%25zz%25", CodingTransform::urlencode("a%2F%zz%", true, true));
}

TEST(CodingTransform, UrldecodeTable) {
  const std::pair<const char*, std::string> cases[] = {
      {"a+b%20c", "a b c"},
      {"%41%4a%4A", "AJJ"},       // either case of hexadecimal digits
      {"%D5%C5", "\xD5\xC5"},
      {"100%", "100%"},           // a '%' without two digits stays
      {"%4", "%4"},
      {"%zz%4g", "%zz%4g"},
      {"%00x", std::string("\0x", 2)},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, CodingTransform::urldecode(c.first)) << c.first;
}

TEST(CodingTransform, UrlRoundTripInBothModes) {
  std::string every;
  for (int b = 0; b < 256; ++b) every.push_back(static_cast<char>(b));
  const std::string samples[] = {every, "a b+c&d=e%f", "/x/~~/list[@name=\"a b\"]?q",
                                 "\xD5\xC5\xC8\xFD", u8"张三 <x@y.cn>", "%%%"};
  for (const std::string& s : samples) {
    for (bool formMode : {true, false}) {
      std::string encoded = CodingTransform::urlencode(s, formMode, false);
      EXPECT_EQ(s, CodingTransform::urldecode(encoded)) << "formMode=" << formMode;
      for (unsigned char c : encoded) EXPECT_TRUE(c > 0x20 && c < 0x7F) << encoded;
    }
  }
}

TEST(CodingTransform, GbkUtf8RoundTrip) {
  // Sources are compiled to GBK: a plain literal is GBK bytes, u8"" stays UTF-8.
  const std::string gbk = "张三 你好, abc";
  const std::string utf8 = u8"张三 你好, abc";
  ASSERT_NE(gbk, utf8);
  EXPECT_EQ(utf8, CodingTransform::gb2312_to_utf8(gbk));
  EXPECT_EQ(gbk, CodingTransform::utf8_to_gb2312(utf8));
  EXPECT_EQ("", CodingTransform::gb2312_to_utf8(""));
  EXPECT_EQ("plain ascii", CodingTransform::utf8_to_gb2312("plain ascii"));
}

TEST(CodingTransform, BadBytesBecomeQuestionMarksAndTheRestConverts) {
  const std::pair<std::string, std::string> fromGbk[] = {
      {"a\xFF" "b", "a?b"},
      {"\x81 x", "? x"},                          // lead byte followed by a blank
      {"张\xD5", std::string(u8"张") + "?"},      // lead byte cut off by the end
      {"\xFF张三", std::string("?") + u8"张三"},
  };
  for (const auto& c : fromGbk) EXPECT_EQ(c.second, CodingTransform::gb2312_to_utf8(c.first));

  const std::pair<std::string, std::string> fromUtf8[] = {
      {std::string(u8"张") + "\xC3(" + u8"三", "张?(三"},  // broken sequence
      {"a\xF0\x9F\x98\x80" "b", "a?b"},                     // no such character in GBK: one '?'
      {"\xED\xA0\x80z", "???z"},                          // surrogate: bad bytes
      {std::string(u8"三") + "\xE5\xBC", "三??"},         // cut off by the end: one per byte
  };
  for (const auto& c : fromUtf8) EXPECT_EQ(c.second, CodingTransform::utf8_to_gb2312(c.first));
}

TEST(CodingTransform, IsValidUtf8Table) {
  const std::pair<std::string, bool> cases[] = {
      {"", true},
      {"ascii", true},
      {u8"张三", true},
      {"\xF0\x9F\x98\x80", true},  // U+1F600
      {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
      {"\xC0\xAF", false},          // overlong '/'
      {"\xE0\x80\xAF", false},      // overlong
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF4\x90\x80\x80", false},  // above U+10FFFF
      {"\xE5\xBC", false},          // truncated
      {"\x80", false},              // lone continuation
      {"\xD5\xC5", false},          // GBK text
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, CodingTransform::isValidUTF8(c.first)) << c.first;
}

TEST(CodingTransform, Utf8LengthCountsCharacters) {
  EXPECT_EQ(0, CodingTransform::utf8_length(""));
  EXPECT_EQ(5, CodingTransform::utf8_length(u8"张三abc"));
  EXPECT_EQ(2, CodingTransform::utf8_length("\xF0\x9F\x98\x80x"));
  std::string sixtyFour;
  for (int i = 0; i < 64; ++i) sixtyFour += u8"中";  // 192 bytes, 64 characters
  EXPECT_EQ(64, CodingTransform::utf8_length(sixtyFour));
  EXPECT_EQ(3, CodingTransform::utf8_length("a\xFF" "b"));  // a bad byte counts as one
}

// ---- StringParser ------------------------------------------------------------------------

TEST(StringParser, ParseAddrTable) {
  struct Case {
    const char* in;
    bool ok;
    const char* host;
    int port;
  };
  const Case cases[] = {
      {"h:80", true, "h", 80},
      {"127.0.0.1:8080", true, "127.0.0.1", 8080},
      {"sso.example.com:65535", true, "sso.example.com", 65535},
      {"[::1]:443", true, "[::1]", 443},
      {"", false, "", 0},
      {"h", false, "", 0},
      {"h:", false, "", 0},
      {":80", false, "", 0},
      {"h:abc", false, "", 0},
      {"h:80x", false, "", 0},
      {"h:0", false, "", 0},
      {"h:70000", false, "", 0},
      {"h:-1", false, "", 0},
      {"h:+80", false, "", 0},
      {"h:99999999999999999999", false, "", 0},
      {"::1:80", false, "", 0},
      {"[::1:80", false, "", 0},
      {"a b:80", false, "", 0},
  };
  for (const Case& c : cases) {
    std::string host = "untouched";
    int port = -7;
    EXPECT_EQ(c.ok, StringParser::parseAddr(c.in, host, port)) << c.in;
    EXPECT_EQ(c.ok ? c.host : "untouched", host) << c.in;
    EXPECT_EQ(c.ok ? c.port : -7, port) << c.in;
  }
}

TEST(StringParser, ParseUserIdTable) {
  struct Case {
    const char* in;
    bool ok;
    const char* name;
    const char* domain;
  };
  const Case cases[] = {
      {"joe@example.com", true, "joe", "example.com"},
      {"a@b", true, "a", "b"},
      {"", false, "", ""},
      {"joe", false, "", ""},
      {"@example.com", false, "", ""},
      {"joe@", false, "", ""},
      {"a@b@c", false, "", ""},
  };
  for (const Case& c : cases) {
    std::string name = "n", domain = "d";
    EXPECT_EQ(c.ok, StringParser::parseUserId(c.in, name, domain)) << c.in;
    EXPECT_EQ(c.ok ? c.name : "n", name) << c.in;
    EXPECT_EQ(c.ok ? c.domain : "d", domain) << c.in;
  }
}

TEST(StringParser, TokenizeDropsEmptyPiecesAndAppends) {
  struct Case {
    const char* text;
    const char* seps;
    std::vector<std::string> pieces;
  };
  const Case cases[] = {
      {"", "/", {}},
      {"/", "/", {}},
      {"a//b", "/", {"a", "b"}},
      {"/a/b/", "/", {"a", "b"}},
      {"joe@example.com", "@", {"joe", "example.com"}},
      {"s1:80;s2:81;", ";", {"s1:80", "s2:81"}},
      {"a;b,c d", ";, ", {"a", "b", "c", "d"}},
      {"abc", "", {"abc"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> out;
    StringParser::tokenize(c.text, c.seps, out);
    EXPECT_EQ(c.pieces, out) << c.text;
  }
  std::vector<std::string> out = {"kept"};
  StringParser::tokenize("x/y", "/", out);
  EXPECT_EQ((std::vector<std::string>{"kept", "x", "y"}), out);
}

TEST(StringParser, Concatenate) {
  std::string out = "old";
  StringParser::concatenate({"a", "b", "c"}, "; ", out);
  EXPECT_EQ("a; b; c", out);
  StringParser::concatenate({"only"}, ",", out);
  EXPECT_EQ("only", out);
  StringParser::concatenate({}, ",", out);
  EXPECT_EQ("", out);
}

// ---- Config ------------------------------------------------------------------------------

class ConfigFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/pw_util_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    dir_ = dir;
    path_ = dir_ + "/pwu.conf";
  }
  void TearDown() override {
    std::remove(path_.c_str());
    rmdir(dir_.c_str());
  }
  void write(const std::string& text) {
    std::ofstream(path_, std::ios::binary) << text;
  }
  std::string dir_, path_;
};

TEST_F(ConfigFile, MissingFileGivesDefaults) {
  Config config;
  config.setValue("SSO", "server", "stale:1");
  EXPECT_EQ(-1, config.init((dir_ + "/absent.conf").c_str()));
  EXPECT_EQ("", config.getStrValue("SSO", "server", ""));
  EXPECT_EQ(15, config.getIntValue("XCAP", "recvTimeout", 15));
  EXPECT_EQ(-1, config.getIntValue("IMSDK", "xcapTimeout", -1));
  EXPECT_FALSE(config.getBoolValue("XCAP", "enableProxyMode", false));
  EXPECT_EQ("im", config.getStrValue("XCAP", "buddysType", "im"));
  EXPECT_EQ(-1, config.init(nullptr));
  EXPECT_EQ(-1, config.init(dir_.c_str()));  // a folder is no file
}

TEST_F(ConfigFile, ReadsSectionsKeysAndComments) {
  write(
      "\xEF\xBB\xBF"
      "top = before any section\n"
      "# a comment\n"
      "; another = comment\n"
      "  [ SSO ]  \n"
      "  server =  sso.example.com:8080  \r\n"
      "ssoServers=a:1;b:2\n"
      "empty=\n"
      "quoted = \"  padded  \"\n"
      "formula = x=y\n"
      "noise line without equals\n"
      "[XCAP]\n"
      "recvTimeout=30\n"
      "sendTimeout = ten\n"
      "maxResourceListSize=-5\n"
      "big=99999999999\n"
      "recvTimeout=31\n");
  Config config;
  ASSERT_EQ(0, config.init(path_.c_str()));
  EXPECT_EQ("before any section", config.getStrValue("", "top", "d"));
  EXPECT_EQ("sso.example.com:8080", config.getStrValue("SSO", "server", ""));
  EXPECT_EQ("sso.example.com:8080", config.getStrValue("sso", "SERVER", ""));  // any case
  EXPECT_EQ("a:1;b:2", config.getStrValue("SSO", "ssoServers", ""));
  EXPECT_EQ("", config.getStrValue("SSO", "empty", "dflt"));   // present, empty
  EXPECT_EQ("  padded  ", config.getStrValue("SSO", "quoted", ""));
  EXPECT_EQ("x=y", config.getStrValue("SSO", "formula", ""));
  EXPECT_EQ("dflt", config.getStrValue("SSO", "another", "dflt"));
  EXPECT_EQ("dflt", config.getStrValue("XCAP", "server", "dflt"));  // other section
  EXPECT_EQ(31, config.getIntValue("XCAP", "recvTimeout", 15));     // last one wins
  EXPECT_EQ(10, config.getIntValue("XCAP", "sendTimeout", 10));     // not a number
  EXPECT_EQ(-5, config.getIntValue("XCAP", "maxResourceListSize", -1));
  EXPECT_EQ(7, config.getIntValue("XCAP", "big", 7));              // out of range
  EXPECT_EQ(3, config.getIntValue("SSO", "empty", 3));
}

TEST(Config, BoolSpellings) {
  Config config;
  const std::pair<const char*, int> cases[] = {
      {"true", 1}, {"TRUE", 1}, {"yes", 1}, {"Yes", 1}, {"on", 1}, {"1", 1},
      {"false", 0}, {"False", 0}, {"no", 0}, {"NO", 0}, {"off", 0}, {"0", 0},
      {"", -1}, {"maybe", -1}, {"2", -1}, {"yes!", -1},
  };
  for (const auto& c : cases) {
    config.setValue("S", "flag", c.first);
    if (c.second < 0) {
      EXPECT_TRUE(config.getBoolValue("S", "flag", true)) << c.first;
      EXPECT_FALSE(config.getBoolValue("S", "flag", false)) << c.first;
    } else {
      EXPECT_EQ(c.second == 1, config.getBoolValue("S", "flag", c.second != 1)) << c.first;
    }
  }
}

TEST_F(ConfigFile, SetValueOverridesAndInitReplaces) {
  write("[COMMON]\nlistenPort=11111\n");
  Config config;
  ASSERT_EQ(0, config.init(path_));
  config.setValue("COMMON", "listenPort", "40001");
  config.setValue("SSO", "server", "127.0.0.1:40002");
  EXPECT_EQ(40001, config.getIntValue("COMMON", "listenPort", 0));
  EXPECT_EQ("127.0.0.1:40002", config.getStrValue("SSO", "server", ""));
  config.removeValue("SSO", "server");
  EXPECT_FALSE(config.hasValue("SSO", "server"));
  ASSERT_EQ(0, config.init(path_));
  EXPECT_EQ(11111, config.getIntValue("COMMON", "listenPort", 0));
  config.clear();
  EXPECT_EQ(5, config.getIntValue("COMMON", "listenPort", 5));
}

TEST(Config, InstanceIsOneObject) {
  EXPECT_EQ(Config::instance(), Config::instance());
}

// Lookups on many threads while another thread rewrites values; run under ThreadSanitizer
// to check the locking.
TEST(Config, ConcurrentLookupsAndWrites) {
  Config config;
  config.initFromText("[A]\nn=1\n");
  std::atomic<bool> bad(false);
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        int n = config.getIntValue("A", "n", -1);
        if (n != 1 && n != 2) bad = true;
      }
    });
  }
  for (int i = 0; i < 500; ++i) config.setValue("A", "n", i % 2 ? "1" : "2");
  for (std::thread& t : readers) t.join();
  EXPECT_FALSE(bad);
}

}  // namespace
