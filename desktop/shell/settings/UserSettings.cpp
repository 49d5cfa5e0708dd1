#include "settings/UserSettings.h"

#include <cstdio>

#include "db/LocalDb.h"
#include "http/Base64Coder.h"
#include "win32/profile.h"

namespace {
const char kCommon[] = "COMMON";
const char kYes[] = "yes";
const char kNo[] = "no";
}  // namespace

UserSettings* UserSettings::instance() {
  static UserSettings* settings = new UserSettings();
  return settings;
}

UserSettings::UserSettings() {}

std::string UserSettings::getFolder() {
  if (folder_.empty()) {
    std::string documents = LocalDb::getDocumentsPath();
    // Without a documents folder there is nowhere to keep settings.
    if (documents.empty()) return std::string();
    folder_ = documents + "/Postwing/";
    CreateDirectoryA(folder_.c_str(), nullptr);
  }
  return folder_;
}

bool UserSettings::open() {
  std::string folder = getFolder();
  ini_.setPath(folder.empty() ? std::string() : folder + "Postwing.ini");
  ini_.loadSectionNames();
  return true;
}

void UserSettings::load() {
  userId = ini_.getString("userId", kCommon);
  startupRun_ = ini_.getString("startuprun", "QSYSSET");
}

void UserSettings::saveUserId() { ini_.writeString(kCommon, "userId", userId); }

std::string UserSettings::getPersonalIniPath(const std::string& user) {
  std::string folder = getFolder();
  if (folder.empty()) return std::string();
  if (!user.empty()) {
    if (!LocalDb::isSafeUserId(user)) return std::string();
    folder += user + "/";
    CreateDirectoryA(folder.c_str(), nullptr);
  }
  return folder + "personal.ini";
}

std::string UserSettings::readPersonal(const std::string& key, const std::string& section,
                                       const std::string& user) {
  IniFile personal;
  personal.setPath(getPersonalIniPath(user));
  if (personal.getPath().empty()) return std::string();
  personal.loadSectionNames();
  return personal.getString(key, section);
}

int UserSettings::writePersonal(const std::string& key, const std::string& value, const std::string& section) {
  IniFile personal;
  personal.setPath(getPersonalIniPath(userId));
  if (personal.getPath().empty()) return 0;
  personal.loadSectionNames();
  personal.writeString(section, key, value);
  return personal.getLastResult();
}

bool UserSettings::getAutoLogin(const std::string& user) {
  return readPersonal("autoLogin", kCommon, user) == kYes;
}

bool UserSettings::getRememberPassword(const std::string& user) {
  return readPersonal("rememberPassword", kCommon, user) == kYes;
}

void UserSettings::setAutoLogin(bool on) { writePersonal("autoLogin", on ? kYes : kNo, kCommon); }

void UserSettings::setRememberPassword(bool on) { writePersonal("rememberPassword", on ? kYes : kNo, kCommon); }

std::string UserSettings::getPassword(const std::string& user) {
  std::string key = readPersonal("key", kCommon, user);
  std::string keylen = readPersonal("keylen", kCommon, user);
  if (key.empty() || keylen.empty() || keylen == "0") return std::string();
  return Base64Coder::decode(key);
}

void UserSettings::setPassword(const std::string& password) {
  if (password.empty()) {
    writePersonal("key", "", kCommon);
    writePersonal("keylen", "0", kCommon);
    return;
  }
  writePersonal("key", Base64Coder::encode(password, false), kCommon);
  char len[32];
  snprintf(len, sizeof len, "%d", static_cast<int>(password.size()));
  writePersonal("keylen", len, kCommon);
}
