// The "HTML Format" clipboard text: golden bytes, offsets that match the bytes, the key forms,
// escaping, and the clipboard write with its failures.
#include "bridge/PW_ClipboardHtml.h"

#include "util/CodingTransform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace {
const char kOpen[] =
    u8"<div><br></div><div><span id=\"_FoxCURSOR\"></span><div style=\"font-family: verdana; "
    u8"font-size: 13px; line-height: 19px;\"><b>";
const char kClose[] = u8"\"><span lang=\"en-us\" style=\"font-family: 宋体;\">下载</span></a></div></div>";

struct Offsets {
  long startHtml, endHtml, startFragment, endFragment;
};

long field(const std::string& text, const std::string& name) {
  auto p = text.find(name + ":");
  EXPECT_NE(p, std::string::npos) << name;
  std::string digits = text.substr(p + name.size() + 1, 8);
  EXPECT_EQ(text.substr(p + name.size() + 9, 2), "\r\n");
  return std::atol(digits.c_str());
}

Offsets offsets(const std::string& text) {
  return Offsets{field(text, "StartHTML"), field(text, "EndHTML"), field(text, "StartFragment"),
                 field(text, "EndFragment")};
}

// The fragment's own bytes, as a reader of the clipboard cuts them out.
std::string cut(const std::string& text) {
  Offsets o = offsets(text);
  return text.substr((size_t)o.startFragment, (size_t)(o.endFragment - o.startFragment));
}

// Every offset points at what it names.
void expectConsistent(const std::string& text, size_t fragmentUtf8Length) {
  Offsets o = offsets(text);
  EXPECT_EQ(o.startHtml, 97);
  EXPECT_EQ(text.compare((size_t)o.startHtml, 6, "<html>"), 0);
  EXPECT_EQ(o.startFragment, 132);
  EXPECT_EQ(text.compare((size_t)o.startFragment - 3, 3, "-->"), 0);
  EXPECT_EQ(o.endFragment, (long)(136 + fragmentUtf8Length));
  EXPECT_EQ(text.compare((size_t)o.endFragment, 18, "<!--EndFragment-->"), 0);
  EXPECT_EQ(o.endHtml, o.endFragment + 36);
  EXPECT_EQ(o.endHtml, (long)text.size());
  EXPECT_EQ(text.compare(text.size() - 7, 7, "</html>"), 0);
}
}  // namespace

TEST(ClipboardHtml, AnEmptyListGivesTheGoldenText) {
  EXPECT_EQ(buildAttachmentHtml({}), "");
  std::string text = wrapClipboardHtml("");
  EXPECT_EQ(text,
            "Version:0.9\r\nStartHTML:00000097\r\nEndHTML:00000172\r\nStartFragment:00000132\r\n"
            "EndFragment:00000136\r\n<html><body>\r\n<!--StartFragment -->\r\n\r\n"
            "<!--EndFragment-->\r\n</body>\r\n</html>");
  expectConsistent(text, 0);
}

TEST(ClipboardHtml, OneLinkGivesTheGoldenEntry) {
  std::string html = buildAttachmentHtml({{"a.zip?12.30MB", "http://h/a"}});
  std::string utf8 = CodingTransform::gb2312_to_utf8(html);
  EXPECT_EQ(utf8, std::string(kOpen) + "a.zip&nbsp;&nbsp;(12.30MB)&nbsp;&nbsp;</b><a href=\"http://h/a" + kClose);
  std::string text = wrapClipboardHtml(html);
  expectConsistent(text, utf8.size());
  EXPECT_EQ(cut(text), "\r\n" + utf8 + "\r\n");
}

TEST(ClipboardHtml, OffsetsMatchTheBytesForChineseAndSpecialCharacters) {
  struct Case {
    std::map<std::string, std::string> links;
    std::vector<std::string> expected;  // UTF-8 pieces that must appear, in order
  } cases[] = {
      {{{"报告.pdf?900B", "http://h/b"}}, {u8"报告.pdf&nbsp;&nbsp;(900B)"}},
      {{{"a<b&c\".txt?1MB", "http://h/x?a=1&b=\"2\""}},
       {"a&lt;b&amp;c&quot;.txt&nbsp;&nbsp;(1MB)", "href=\"http://h/x?a=1&amp;b=&quot;2&quot;\""}},
      {{{"x<!--EndFragment-->.txt?2KB", "http://h/<!--EndFrag"}},
       {"x&lt;!--EndFragment--&gt;.txt", "http://h/&lt;!--EndFrag"}},
      {{{"b.txt?1KB", "http://h/2"}, {"a.txt?2KB", "http://h/1"}, {"张三 & 李四.doc?3KB", "u"}},
       {"a.txt", "b.txt", u8"张三 &amp; 李四.doc"}},
  };
  for (auto& c : cases) {
    std::string utf8 = CodingTransform::gb2312_to_utf8(buildAttachmentHtml(c.links));
    std::string text = wrapClipboardHtml(buildAttachmentHtml(c.links));
    SCOPED_TRACE(utf8);
    expectConsistent(text, utf8.size());
    EXPECT_EQ(cut(text), "\r\n" + utf8 + "\r\n");
    size_t at = 0;
    for (auto& piece : c.expected) {
      size_t p = text.find(piece, at);
      ASSERT_NE(p, std::string::npos) << piece;
      at = p + piece.size();
    }
  }
}

TEST(ClipboardHtml, KeysThatDoNotSplitIntoNameAndSizeShowTheWholeKey) {
  struct Case {
    const char* key;
    const char* shown;  // UTF-8
  } cases[] = {
      {"a.txt?1.2MB", u8"a.txt&nbsp;&nbsp;(1.2MB)"},
      {"a.txt", u8"a.txt&nbsp;&nbsp;(未知)"},
      {"a?b?c", u8"a?b?c&nbsp;&nbsp;(未知)"},
      {"a.txt?", u8"a.txt?&nbsp;&nbsp;(未知)"},  // empty pieces are dropped by the tokenizer
      {"?1MB", u8"?1MB&nbsp;&nbsp;(未知)"},
  };
  for (auto& c : cases) {
    std::string utf8 = CodingTransform::gb2312_to_utf8(buildAttachmentHtml({{c.key, "http://h/"}}));
    EXPECT_EQ(utf8, std::string(kOpen) + c.shown + "&nbsp;&nbsp;</b><a href=\"http://h/" + kClose) << c.key;
  }
}

TEST(ClipboardHtml, TheClipboardHoldsTheTextWithItsNulOrNothingAfterAFailure) {
  w32subst::resetClipboard();
  std::string text = wrapClipboardHtml(buildAttachmentHtml({{"a.zip?1MB", "http://h/a"}}));
  UINT format = RegisterClipboardFormatA("HTML Format");
  EXPECT_EQ(format, RegisterClipboardFormatA("html format"));
  EXPECT_GE(format, 0xC000u);
  auto read = [&]() -> std::string {
    if (!OpenClipboard(nullptr)) return "<closed>";
    std::string out = "<none>";
    if (HANDLE mem = GetClipboardData(format)) {
      const char* p = (const char*)GlobalLock(mem);
      EXPECT_EQ(GlobalSize(mem), text.size() + 1);
      EXPECT_EQ(p[text.size()], '\0');
      out = p;
      GlobalUnlock(mem);
    }
    CloseClipboard();
    return out;
  };
  ASSERT_TRUE(putClipboardHtml(nullptr, text));
  EXPECT_EQ(read(), text);

  using w32subst::ClipboardFault;
  for (ClipboardFault f : {ClipboardFault::Open, ClipboardFault::Alloc, ClipboardFault::SetData}) {
    w32subst::failNextClipboard(f);
    EXPECT_FALSE(putClipboardHtml(nullptr, "other"));
    std::string now = read();  // the clipboard is usable again afterwards
    if (f == ClipboardFault::Open)
      EXPECT_EQ(now, text);  // left as it was
    else
      EXPECT_EQ(now, "<none>");  // emptied, never the previous links
  }
  // Another thread holding the clipboard open makes the write fail.
  std::thread holder([] { ASSERT_TRUE(OpenClipboard(nullptr)); });
  holder.join();  // the holder ended without closing: the clipboard stays taken
  EXPECT_FALSE(putClipboardHtml(nullptr, text));
  w32subst::resetClipboard();
  EXPECT_TRUE(putClipboardHtml(nullptr, text));
  EXPECT_FALSE(putClipboardHtml(nullptr, ""));
  w32subst::resetClipboard();
}
