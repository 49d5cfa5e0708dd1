#include "addressbook/UICursor.h"

namespace abui {

namespace {
thread_local HCURSOR t_cursor = nullptr;
}

HCURSOR SetCursor(HCURSOR cursor) {
  HCURSOR old = t_cursor;
  t_cursor = cursor;
  return old;
}

HCURSOR GetCursor() { return t_cursor; }

HCURSOR HandCursor() {
  // A shared system cursor: loaded once.
  static HCURSOR hand = LoadCursorA(nullptr, IDC_HAND);
  return hand;
}

}  // namespace abui
