// Process-wide configuration read from pwu.conf.
//
// File syntax (one entry a line):
//   [SECTION]          starts a section; keys before the first header belong to section ""
//   key = value        surrounding blanks of key and value are dropped; the value is the rest
//                      of the line after the first '=' (it may hold ';', '#' and '='); a value
//                      wrapped in double quotes loses the quotes and keeps inner blanks
//   # text / ; text    comment lines (only at the start of a line)
// Section and key names compare case-insensitively; a repeated key keeps its last value.
//
// Threads: every method may be called from any thread. Lookups take the reader side of
// lock_ and run concurrently; init/initFromText/setValue/removeValue/clear take the writer side.
#pragma once

#include <ace/RW_Thread_Mutex.h>

#include <map>
#include <string>

class Config {
 public:
  // The process-wide object every lookup of the system goes through.
  static Config* instance();

  // A private configuration (tests); starts empty, so every lookup gives its default.
  Config();

  // Loads the file at path, replacing everything held before (values set with setValue
  // included). 0 when the file was read; -1 when it is missing or unreadable, and then
  // the configuration is empty and every lookup gives its default.
  int init(const char* path);
  int init(const std::string& path) { return init(path.c_str()); }

  // Same as init, from the text of a file.
  void initFromText(const std::string& text);

  // Sets (or overrides) one value, e.g. a test pointing a service at a loopback port.
  void setValue(const std::string& section, const std::string& key, const std::string& value);
  // Forgets one value so that its lookups give the default again.
  void removeValue(const std::string& section, const std::string& key);
  // Forgets every value.
  void clear();

  // The value of key in section, or def when the key is absent. A present key with an
  // empty value gives "".
  std::string getStrValue(const std::string& section, const std::string& key,
                          const std::string& def) const;
  // Decimal integer (optional sign, surrounding blanks allowed); def when absent, not a
  // number, or outside the range of int.
  int getIntValue(const std::string& section, const std::string& key, int def) const;
  // true/yes/on/1 and false/no/off/0, case-insensitive; def when absent or anything else.
  bool getBoolValue(const std::string& section, const std::string& key, bool def) const;

  // True when the key is present in the section.
  bool hasValue(const std::string& section, const std::string& key) const;

 private:
  Config(const Config&) = delete;
  Config& operator=(const Config&) = delete;

  static std::string makeKey(const std::string& section, const std::string& key);
  bool lookup(const std::string& section, const std::string& key, std::string& out) const;

  mutable ACE_RW_Thread_Mutex lock_;
  std::map<std::string, std::string> values_;  // guarded by lock_; key is "section\nkey", lower case
};
