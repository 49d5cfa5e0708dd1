#include "corvane/WatcherInfoDocument.h"

#include "bindings/XcapNamespaces.h"
#include "bindings/watcherinfo.hxx"
#include "corvane/AppUsage.h"
#include "log/IM_LogManager.h"

#include <ace/Guard_T.h>

#include <sstream>

int WatcherInfoDocument::getWatcher(int index, Watcher& out) const {
  if (index < 0 || index >= watcherCount()) return -1;
  out = watchers_[index];
  return 0;
}

int WatcherInfoDocument::encode(std::string& out) const {
  try {
    Xcap_Watcherinfo::watcherinfo doc(0, Xcap_Watcherinfo::state(Xcap_Watcherinfo::state::full));
    Xcap_Watcherinfo::watcher_list list((Xcap_Watcherinfo::watcher_list::resource_type(resource_)),
                                        Xcap_Watcherinfo::watcher_list::package_type(package_));
    for (size_t i = 0; i < watchers_.size(); ++i) {
      const Watcher& w = watchers_[i];
      Xcap_Watcherinfo::watcher x((xml_schema::uri(w.uri)), Xcap_Watcherinfo::status(w.status),
                                  Xcap_Watcherinfo::event(w.event),
                                  Xcap_Watcherinfo::watcher::id_type(w.id));
      if (w.durationSubscribed != 0) x.duration_subscribed(w.durationSubscribed);
      if (!w.inviterMessage.empty()) x.inviter_message(w.inviterMessage);
      if (!w.inviterDisplayName.empty()) x.inviter_display_name(w.inviterDisplayName);
      list.watcher().push_back(x);
    }
    doc.watcher_list().push_back(list);

    std::ostringstream os;
    {
      // The serialiser starts and stops Xerces around the call: kept apart from every parse.
      ACE_Guard<ACE_Recursive_Thread_Mutex> guard(Parser::xercesLock_);
      Xcap_Watcherinfo::watcherinfo_(os, doc, Xcap_Bindings::watcherinfo_namespaces(),
                                     Xcap_Bindings::ENCODING, Xcap_Bindings::SERIALIZE_FLAGS);
    }
    out = os.str();
    return 0;
  } catch (...) {
    IM_LOG_ERROR("Corvane, [reason = Encode WatcherInfoDocument Failed]");
    return -1;
  }
}

int WatcherInfoDocument::decode(const std::string& xml) {
  try {
    std::unique_ptr<Xcap_Watcherinfo::watcherinfo> doc;
    {
      ACE_Guard<ACE_Recursive_Thread_Mutex> guard(Parser::xercesLock_);
      std::istringstream is(xml);
      doc = Xcap_Watcherinfo::watcherinfo_(is, Xcap_Bindings::PARSE_FLAGS, xml_schema::properties());
    }
    if (!doc) {
      IM_LOG_ERROR("Corvane, [reason = Decode WatcherInfoDocument Failed]");
      return -1;
    }
    if (doc->watcher_list().empty()) return 0;
    const Xcap_Watcherinfo::watcher_list& list = doc->watcher_list().front();
    // Built aside, then committed: a failure leaves the document as it was.
    std::vector<Watcher> added;
    for (Xcap_Watcherinfo::watcher_list::watcher_const_iterator x = list.watcher().begin();
         x != list.watcher().end(); ++x) {
      Watcher w;
      w.uri = *x;
      w.event = x->event();
      w.status = x->status();
      w.id = x->id();
      if (x->duration_subscribed().present()) w.durationSubscribed = *x->duration_subscribed();
      if (x->inviter_message().present()) w.inviterMessage = *x->inviter_message();
      if (x->inviter_display_name().present()) w.inviterDisplayName = *x->inviter_display_name();
      added.push_back(w);
    }
    std::string resource = list.resource();
    std::string package = list.package();
    watchers_.reserve(watchers_.size() + added.size());
    resource_.swap(resource);
    package_.swap(package);
    watchers_.insert(watchers_.end(), added.begin(), added.end());
    return 0;
  } catch (...) {
    IM_LOG_ERROR("Corvane, [reason = Decode WatcherInfoDocument Failed]");
    return -1;
  }
}
