// The LIKE operator of our connections, faster on the patterns the address book's keyword search
// uses: the pattern is parsed once per statement, and a pattern without "_" is matched as a row
// of plain pieces found one after the other. The three-argument form (with ESCAPE) stays
// SQLite's.
//
// On text in valid UTF-8 it answers as SQLite's own two-argument LIKE does ("%" any run of
// characters, "_" any one character, ASCII letters without regard to case, other characters
// exactly, no escape character, NULL when either side is NULL, "LIKE or GLOB pattern too
// complex" past SQLite's pattern length limit); the test proves that over a table of patterns
// and texts. That is all the contact table and the typed keyword ever hold: both pass through
// the UTF-8 converter first. Text that is not valid UTF-8 (GBK bytes, overlong or cut-off
// forms, stray continuation bytes) and blob operands are outside that promise: SQLite reads
// such bytes into characters of its own (an overlong form becomes U+FFFD), this matcher compares
// bytes, and the two can differ.
#pragma once

#include <sqlite3.h>

#include <string>

// Installs it on the connection; SQLITE_OK or SQLite's error code.
int installFastLike(sqlite3* db);

// The match itself (pattern first, as SQLite's like(pattern, text)); for tests.
bool fastLikeMatch(const std::string& pattern, const std::string& text);
