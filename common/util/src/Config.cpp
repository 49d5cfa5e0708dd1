#include "util/Config.h"

#include <ace/Guard_T.h>

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

const char* const kBlanks = " \t\r\n";

std::string trim(const std::string& s) {
  std::string::size_type b = s.find_first_not_of(kBlanks);
  if (b == std::string::npos) return std::string();
  std::string::size_type e = s.find_last_not_of(kBlanks);
  return s.substr(b, e - b + 1);
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Parses the file text into values (keys already made by makeKey's rule).
void parseText(const std::string& text, std::map<std::string, std::string>& values) {
  std::istringstream in(text);
  std::string line;
  std::string section;
  bool first = true;
  while (std::getline(in, line)) {
    if (first) {
      first = false;
      if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);  // UTF-8 byte order mark
    }
    std::string t = trim(line);
    if (t.empty() || t[0] == '#' || t[0] == ';') continue;
    if (t[0] == '[') {
      std::string::size_type close = t.find(']');
      if (close != std::string::npos) section = trim(t.substr(1, close - 1));
      continue;
    }
    std::string::size_type eq = t.find('=');
    if (eq == std::string::npos) continue;  // not an entry
    std::string key = trim(t.substr(0, eq));
    if (key.empty()) continue;
    std::string value = trim(t.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    values[lower(section) + '\n' + lower(key)] = value;
  }
}

}  // namespace

Config* Config::instance() {
  // Never destroyed: detached worker threads may still read it while the process exits.
  static Config* config = new Config;
  return config;
}

Config::Config() {}

std::string Config::makeKey(const std::string& section, const std::string& key) {
  return lower(trim(section)) + '\n' + lower(trim(key));
}

int Config::init(const char* path) {
  std::map<std::string, std::string> values;
  int result = -1;
  struct stat st;
  if (path != nullptr && ::stat(path, &st) == 0 && S_ISREG(st.st_mode)) {
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (in) {
      std::ostringstream text;
      text << in.rdbuf();
      if (!in.bad()) {
        parseText(text.str(), values);
        result = 0;
      }
    }
  }
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(lock_);
  values_.swap(values);
  return result;
}

void Config::initFromText(const std::string& text) {
  std::map<std::string, std::string> values;
  parseText(text, values);
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(lock_);
  values_.swap(values);
}

void Config::setValue(const std::string& section, const std::string& key,
                      const std::string& value) {
  std::string k = makeKey(section, key);
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(lock_);
  values_[k] = value;
}

void Config::removeValue(const std::string& section, const std::string& key) {
  std::string k = makeKey(section, key);
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(lock_);
  values_.erase(k);
}

void Config::clear() {
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(lock_);
  values_.clear();
}

bool Config::lookup(const std::string& section, const std::string& key, std::string& out) const {
  std::string k = makeKey(section, key);
  ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(lock_);
  std::map<std::string, std::string>::const_iterator it = values_.find(k);
  if (it == values_.end()) return false;
  out = it->second;
  return true;
}

bool Config::hasValue(const std::string& section, const std::string& key) const {
  std::string ignored;
  return lookup(section, key, ignored);
}

std::string Config::getStrValue(const std::string& section, const std::string& key,
                                const std::string& def) const {
  std::string value;
  return lookup(section, key, value) ? value : def;
}

int Config::getIntValue(const std::string& section, const std::string& key, int def) const {
  std::string value;
  if (!lookup(section, key, value)) return def;
  value = trim(value);
  if (value.empty()) return def;
  errno = 0;
  char* end = nullptr;
  long n = std::strtol(value.c_str(), &end, 10);
  if (errno != 0 || end == value.c_str() || *end != '\0' || n < INT_MIN || n > INT_MAX) return def;
  return static_cast<int>(n);
}

bool Config::getBoolValue(const std::string& section, const std::string& key, bool def) const {
  std::string value;
  if (!lookup(section, key, value)) return def;
  value = lower(trim(value));
  if (value == "true" || value == "yes" || value == "on" || value == "1") return true;
  if (value == "false" || value == "no" || value == "off" || value == "0") return false;
  return def;
}
