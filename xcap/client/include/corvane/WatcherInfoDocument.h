// A watcher-information document (RFC 3858 with the inviter message and display name) as a
// plain value: the watched resource, the event package and the watchers. encode writes a full
// watcherinfo document of version 0 (UTF-8); decode reads the first watcher-list of one and
// appends its watchers to those already held.
//
// Threads: a value; one thread at a time per object. encode and decode hold Parser::xercesLock_
// around the serialise and the parse. Neither throws: a failure returns -1 with a log line and
// leaves the document (or `out`) as it was.
#ifndef CORVANE_WATCHERINFODOCUMENT_H
#define CORVANE_WATCHERINFODOCUMENT_H

#include <cstdint>
#include <string>
#include <vector>

class WatcherInfoDocument {
 public:
  class Watcher {
   public:
    Watcher() : durationSubscribed(0) {}
    std::string uri;                  // element content
    std::string event;                // "subscribe", "approved", ... written as given
    std::string status;               // "pending", "active", "waiting", "terminated"
    std::string id;
    std::uint64_t durationSubscribed;  // 0 = absent
    std::string inviterMessage;       // "" = absent
    std::string inviterDisplayName;   // "" = absent
  };

  WatcherInfoDocument() {}
  virtual ~WatcherInfoDocument() {}

  std::string getResource() const { return resource_; }
  void setResource(const std::string& v) { resource_ = v; }
  std::string getPackage() const { return package_; }
  void setPackage(const std::string& v) { package_ = v; }

  int watcherCount() const { return static_cast<int>(watchers_.size()); }
  std::vector<Watcher>& getWatchers() { return watchers_; }
  const std::vector<Watcher>& getWatchers() const { return watchers_; }
  void addWatcher(const Watcher& watcher) { watchers_.push_back(watcher); }
  // 0 with a copy in `out`, or -1 when index is not in 0..count-1.
  int getWatcher(int index, Watcher& out) const;

  // 0 with the XML text, or -1 (text that is not UTF-8) with `out` untouched.
  int encode(std::string& out) const;
  // 0: resource and package from the first watcher-list, its watchers appended (a document
  // without a watcher-list changes nothing); -1 when it does not parse.
  int decode(const std::string& xml);

 private:
  std::string resource_;
  std::string package_;
  std::vector<Watcher> watchers_;
};

#endif  // CORVANE_WATCHERINFODOCUMENT_H
