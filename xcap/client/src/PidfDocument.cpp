#include "corvane/PidfDocument.h"

#include "bindings/XcapNamespaces.h"
#include "bindings/pidf.hxx"
#include "corvane/AppUsage.h"
#include "log/IM_LogManager.h"

#include <ace/Guard_T.h>

#include <sstream>

int PidfDocument::getTuple(int index, Tuple& out) const {
  if (index < 0 || index >= tupleCount()) return -1;
  out = tuples_[index];
  return 0;
}

int PidfDocument::encode(std::string& out) const {
  try {
    Xcap_Presence::presence doc((Xcap_Presence::presence::entity_type(entity_)));
    if (!agent_.empty()) doc.agent(agent_);
    for (size_t i = 0; i < tuples_.size(); ++i) {
      const Tuple& t = tuples_[i];
      Xcap_Presence::status status;
      status.basic(Xcap_Presence::basic(t.open != 0 ? "open" : "closed"));
      status.extend(Xcap_Presence::extend(t.extend));
      Xcap_Presence::tuple tuple(status, Xcap_Presence::tuple::id_type(t.id));
      if (!t.contact.empty()) {
        Xcap_Presence::contact contact((xml_schema::uri(t.contact)));
        contact.priority(Xcap_Presence::qvalue(t.priority));
        tuple.contact(contact);
      }
      for (size_t n = 0; n < t.notes.size(); ++n) tuple.note().push_back(Xcap_Presence::note(t.notes[n]));
      if (t.year != 0) {
        tuple.timestamp(xml_schema::date_time(t.year, t.month, t.day, t.hours, t.minutes, t.seconds));
      }
      doc.tuple().push_back(tuple);
    }
    if (person_) {
      const Person& p = *person_;
      Xcap_DataModel::person person((Xcap_DataModel::person::id_type(p.id)));
      if (!p.card.empty()) person.card(p.card);
      if (!p.displayName.empty()) person.display_name(p.displayName);
      if (!p.signature.empty()) person.signature(p.signature);
      if (!p.homepage.empty()) person.homepage(p.homepage);
      if (!p.icon.empty()) person.icon(p.icon);
      if (!p.map.empty()) person.map(p.map);
      if (!p.sound.empty()) person.sound(p.sound);
      doc.person(person);
    }
    for (size_t n = 0; n < notes_.size(); ++n) doc.note().push_back(Xcap_Presence::note(notes_[n]));

    std::ostringstream os;
    {
      // The serialiser starts and stops Xerces around the call: kept apart from every parse.
      ACE_Guard<ACE_Recursive_Thread_Mutex> guard(Parser::xercesLock_);
      Xcap_Presence::presence_(os, doc, Xcap_Bindings::presence_namespaces(),
                               Xcap_Bindings::ENCODING, Xcap_Bindings::SERIALIZE_FLAGS);
    }
    out = os.str();
    return 0;
  } catch (...) {
    IM_LOG_ERROR("Corvane, [entity = %s, reason = Encode PidfDocument Failed]", entity_.c_str());
    return -1;
  }
}

int PidfDocument::decode(const std::string& xml) {
  try {
    std::unique_ptr<Xcap_Presence::presence> doc;
    {
      ACE_Guard<ACE_Recursive_Thread_Mutex> guard(Parser::xercesLock_);
      std::istringstream is(xml);
      doc = Xcap_Presence::presence_(is, Xcap_Bindings::PARSE_FLAGS, xml_schema::properties());
    }
    if (!doc) return -1;
    // Built aside, then swapped in: a failure leaves the document as it was.
    PidfDocument next;
    next.entity_ = doc->entity();
    if (doc->agent().present()) next.agent_ = *doc->agent();
    const Xcap_Presence::presence::tuple_sequence& tuples = doc->tuple();
    for (Xcap_Presence::presence::tuple_const_iterator x = tuples.begin(); x != tuples.end(); ++x) {
      Tuple t;
      t.id = x->id();
      if (x->status().basic().present()) {
        t.open = *x->status().basic() == Xcap_Presence::basic::open ? 1 : 0;
      }
      if (x->status().extend().present()) t.extend = *x->status().extend();
      if (x->contact().present()) {
        t.contact = *x->contact();
        if (x->contact()->priority().present()) t.priority = *x->contact()->priority();
      }
      for (Xcap_Presence::tuple::note_const_iterator n = x->note().begin(); n != x->note().end(); ++n) {
        t.notes.push_back(*n);
      }
      if (x->timestamp().present()) {
        const xml_schema::date_time& ts = *x->timestamp();
        t.year = ts.year();
        t.month = ts.month();
        t.day = ts.day();
        t.hours = ts.hours();
        t.minutes = ts.minutes();
        t.seconds = ts.seconds();
      }
      next.tuples_.push_back(t);
    }
    if (doc->person().present()) {
      const Xcap_DataModel::person& x = *doc->person();
      Person* p = new Person;
      next.person_ = p;
      p->id = x.id();
      if (x.card().present()) p->card = *x.card();
      if (x.display_name().present()) p->displayName = *x.display_name();
      if (x.signature().present()) p->signature = *x.signature();
      if (x.homepage().present()) p->homepage = *x.homepage();
      if (x.icon().present()) p->icon = *x.icon();
      if (x.map().present()) p->map = *x.map();
      if (x.sound().present()) p->sound = *x.sound();
    }
    for (Xcap_Presence::presence::note_const_iterator n = doc->note().begin(); n != doc->note().end(); ++n) {
      next.notes_.push_back(*n);
    }
    entity_.swap(next.entity_);
    agent_.swap(next.agent_);
    tuples_.swap(next.tuples_);
    person_ = next.person_;
    notes_.swap(next.notes_);
    return 0;
  } catch (...) {
    IM_LOG_ERROR("Corvane, [entity = %s, reason = Decode PidfDocument Failed]", entity_.c_str());
    return -1;
  }
}
