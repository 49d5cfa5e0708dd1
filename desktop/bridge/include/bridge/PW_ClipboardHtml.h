// The "HTML Format" clipboard text that carries download links into a mail: the HTML of the
// links, its CF_HTML wrapping (header version 0.9, byte offsets, UTF-8) and the clipboard write.
// Every function is callable from any thread; the clipboard write takes the clipboard for the
// calling thread while it runs.
#pragma once

#include "win32/windows.h"

#include <map>
#include <string>

// The HTML of the entries, in key order. A key is "name?size" (narrow text in the local code
// page); a key that does not split into exactly those two parts is shown whole with the size
// "(未知)". Names, sizes and URLs are HTML-escaped.
std::string buildAttachmentHtml(const std::map<std::string, std::string>& links);

// The CF_HTML text of a fragment given in the local code page: UTF-8, with StartHTML 97,
// StartFragment 132, EndFragment 136 + the fragment's UTF-8 length and EndHTML 36 more (the
// whole length). Empty when the text would not fit the eight-digit offsets.
std::string wrapClipboardHtml(const std::string& fragment);

// Puts the text, with its terminating NUL, on the clipboard in the registered "HTML Format".
// False when nothing was put there: the clipboard could not be opened, or emptying it, the
// memory or the data could not be had (the clipboard is closed again in every case).
bool putClipboardHtml(HWND owner, const std::string& wrapped);
