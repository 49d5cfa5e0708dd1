// The simulated mail clients behave as the hook library expects of the real ones: their own
// address-book controls, rich edits that take WM_IME_CHAR, and an editor that pastes
// "HTML Format" from its context menu.
#include "testing/FakeMailClient.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace pwtest;

namespace {
void keys(std::initializer_list<std::pair<WORD, bool>> seq) {
  for (auto& k : seq) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = k.first;
    in.ki.dwFlags = k.second ? KEYEVENTF_KEYUP : 0;
    in.ki.time = GetTickCount();
    SendInput(1, &in, sizeof(INPUT));
  }
}

void putHtml(const std::string& fragment) {
  char header[128];
  std::string start = "<html><body>\r\n<!--StartFragment -->";
  std::string tail = "<!--EndFragment-->\r\n</body>\r\n</html>";
  size_t sf = 97 + start.size(), ef = sf + fragment.size();
  std::snprintf(header, sizeof(header),
                "Version:0.9\r\nStartHTML:%08u\r\nEndHTML:%08u\r\nStartFragment:%08u\r\nEndFragment:%08u\r\n",
                97u, (unsigned)(ef + tail.size()), (unsigned)sf, (unsigned)ef);
  std::string text = header + start + fragment + tail;
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  std::memcpy(GlobalLock(mem), text.c_str(), text.size() + 1);
  GlobalUnlock(mem);
  SetClipboardData(RegisterClipboardFormatA("HTML Format"), mem);
  CloseClipboard();
}
}  // namespace

TEST(FakeMailClients, TheirOwnAddressBookControlsAnswerClicks) {
  FakeMailClient mail(210);
  ComposeWindow f7 = mail.openCompose(MailKind::Foxmail7);
  w32subst::click(f7.container, 37, 24);  // inside the "To" label
  w32subst::click(f7.container, 300, 24);
  mail.waitIdle();
  EXPECT_EQ(mail.events(), (std::vector<std::string>{"ownAddressBook(to)"}));
  mail.close(f7.root);
  mail.clearLog();

  ComposeWindow f70 = mail.openCompose(MailKind::Foxmail70);
  w32subst::click(f70.recipientButton, 5, 5);  // x 7 in the panel
  mail.waitIdle();
  EXPECT_EQ(mail.events(), (std::vector<std::string>{"ownAddressBook"}));
  mail.close(f70.root);
  mail.clearLog();

  ComposeWindow ol = mail.openCompose(MailKind::Outlook);
  ASSERT_EQ(ol.outlookButtons.size(), 4u);
  w32subst::click(ol.outlookButtons[2], 5, 5);
  w32subst::click(ol.outlookButtons[3], 5, 5);  // "send": not an address-book button
  mail.waitIdle();
  EXPECT_EQ(mail.events(), (std::vector<std::string>{"ownAddressBook(bcc)"}));
  EXPECT_EQ(GetDlgCtrlID(ol.to), 4097);
  EXPECT_EQ(GetDlgCtrlID(ol.bcc), 4100);
}

TEST(FakeMailClients, RichEditsTakeImeCharactersAndTheEditorPastesFromItsMenu) {
  FakeMailClient mail(211);
  ComposeWindow w = mail.openCompose(MailKind::Foxmail70);
  for (char16_t u : std::u16string(u"张\U0001F600;")) PostMessageW(w.to, WM_IME_CHAR, u, 0);
  mail.waitIdle();
  EXPECT_EQ(mail.text(w.to), u"张\U0001F600;");
  EXPECT_EQ(GetWindowTextLengthW(w.to), 4);  // the window text mirrors the content

  putHtml(u8"\r\n<b>链接</b>\r\n");
  w32subst::click(w.editor, 500, 300);
  mail.waitIdle();
  EXPECT_EQ(GetForegroundWindow(), w.root);
  EXPECT_EQ(mail.caret(w.editor), 0u);  // a click puts the caret at the start
  keys({{VK_CONTROL, false}, {VK_END, false}, {VK_END, true}, {VK_CONTROL, true}, {VK_NEXT, false}, {VK_NEXT, true}});
  w32subst::click(w.editor, 500, 300, true);
  mail.waitIdle();
  EXPECT_TRUE(mail.contextMenuOpen(w.editor));
  keys({{'P', false}, {'P', true}});
  mail.waitIdle();
  EXPECT_EQ(mail.body(w.editor), u"<p>draft</p>\r\n<b>链接</b>\r\n");
  EXPECT_EQ(mail.events(), (std::vector<std::string>{"nextPage", "contextMenu(500,300)", "paste"}));
  w32subst::resetClipboard();
}
