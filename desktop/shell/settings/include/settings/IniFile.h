// One INI file read and written through the profile-string calls.
//
// Threads: an IniFile is used by one thread at a time; the profile calls
// beneath serialise their file access themselves.
#pragma once

#include <string>
#include <vector>

class IniFile {
 public:
  IniFile();
  ~IniFile();

  void setPath(const std::string& path) { path_ = path; }
  const std::string& getPath() const { return path_; }
  // The value returned by the latest profile call.
  int getLastResult() const { return lastResult_; }
  const std::vector<std::string>& getSectionNames() const { return sectionNames_; }

  // The value of key in section ("" when missing). Note the order: key first.
  // Values are read whole, up to 65535 characters.
  std::string getString(const std::string& key, const std::string& section);
  // Re-reads the file's section names, in file order, leaving out empty ones.
  const std::vector<std::string>& loadSectionNames();
  // Writes key = value into section; true when the file was written.
  bool writeString(const std::string& section, const std::string& key, const std::string& value);

 private:
  std::vector<std::string> sectionNames_;
  int lastResult_;
  std::string path_;
};
