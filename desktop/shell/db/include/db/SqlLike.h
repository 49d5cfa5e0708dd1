// The LIKE operator of our connections: the same matching as SQLite's own two-argument LIKE
// ("%" any run of characters, "_" any one UTF-8 character, ASCII letters without regard to
// case, other characters exactly, no escape character, NULL when either side is NULL, "LIKE or
// GLOB pattern too complex" past SQLite's pattern length limit), but faster on the patterns
// the address book's keyword search uses: the pattern is parsed once per statement, and a
// pattern without "_" is matched as a row of plain pieces found one after the other.
// The three-argument form (with ESCAPE) stays SQLite's.
#pragma once

#include <sqlite3.h>

#include <string>

// Installs it on the connection; SQLITE_OK or SQLite's error code.
int installFastLike(sqlite3* db);

// The match itself (pattern first, as SQLite's like(pattern, text)); for tests.
bool fastLikeMatch(const std::string& pattern, const std::string& text);
