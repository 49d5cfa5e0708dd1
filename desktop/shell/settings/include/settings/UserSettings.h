// The choices the desktop program remembers between runs, in two kinds of INI
// file under <documents>/Postwing/:
//   Postwing.ini           COMMON/userId (last user), QSYSSET/startuprun (read only)
//   <user id>/personal.ini COMMON/autoLogin, rememberPassword ("yes"/"no"),
//                          key (Base64 of the password), keylen (its byte count)
// Only the exact text "yes" reads as set. Nothing is reported to the caller: a
// missing file, folder or key reads as "", and a write that fails is dropped.
//
// Threads: the UI thread only; the object takes no lock.
#pragma once

#include <string>

#include "settings/IniFile.h"

class UserSettings {
 public:
  // The process-wide object, created on first call and never destroyed.
  static UserSettings* instance();
  // Tests may build their own; the program uses instance().
  UserSettings();

  // Points at <folder>Postwing.ini and loads its section names; true.
  bool open();
  // Reads userId and startupRun from Postwing.ini. After open.
  void load();
  // Writes userId to COMMON/userId of Postwing.ini. After open.
  void saveUserId();
  std::string getUserId() const { return userId; }
  void setUserId(const std::string& id) { userId = id; }
  // QSYSSET/startuprun as last loaded; nothing acts on it.
  std::string getStartupRun() const { return startupRun_; }

  // <documents>/Postwing/, created (one level) on first call; "" when the
  // documents folder is unknown.
  std::string getFolder();
  // <folder><user>/personal.ini, the user's folder created when missing; for
  // an empty user <folder>personal.ini. "" for a user id that cannot name a
  // folder (separators, "..", ...), so that such an id reads and writes nothing.
  std::string getPersonalIniPath(const std::string& user);

  std::string readPersonal(const std::string& key, const std::string& section, const std::string& user);
  // Into the personal.ini of userId; nonzero when written.
  int writePersonal(const std::string& key, const std::string& value, const std::string& section);

  bool getAutoLogin(const std::string& user);
  bool getRememberPassword(const std::string& user);
  void setAutoLogin(bool on);
  void setRememberPassword(bool on);
  // The remembered password's bytes; "" when key or keylen is empty, keylen is
  // "0", or key is not Base64.
  std::string getPassword(const std::string& user);
  // Writes key then keylen: Base64 and byte count, or "" and "0".
  void setPassword(const std::string& password);

  // The user whose personal.ini the setters write; the login assigns it.
  std::string userId;

 private:
  IniFile ini_;              // Postwing.ini
  std::string startupRun_;
  std::string folder_;       // with its trailing separator, once known
};
