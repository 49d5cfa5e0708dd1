// A presence document (PIDF with the data-model person and its contact information) as a plain
// value: entity, optional agent, tuples, optional person, notes. encode writes PIDF XML (UTF-8)
// through the bindings; decode reads it. Texts are UTF-8, as in the document.
//
// Threads: a value; one thread at a time per object. encode and decode hold Parser::xercesLock_
// around the serialise and the parse. Neither throws: a failure returns -1 with a log line and
// leaves the document (or `out`) as it was.
#ifndef CORVANE_PIDFDOCUMENT_H
#define CORVANE_PIDFDOCUMENT_H

#include "corvane/Sptr.h"

#include <string>
#include <vector>

class PidfDocument {
 public:
  // One tuple: status (basic open/closed and the extension text), contact, notes, timestamp.
  class Tuple {
   public:
    Tuple()
        : open(0), priority(0), year(0), month(0), day(0), hours(0), minutes(0), seconds(0) {}
    int open;                        // non-zero: "open"; 0: "closed"
    std::string extend;              // status extension, always written
    std::string id;
    std::string contact;             // "" = no contact element
    double priority;                 // of the contact (0..1)
    std::vector<std::string> notes;
    int year;                        // 0 = no timestamp
    unsigned short month, day, hours, minutes;
    double seconds;
  };

  // The data-model person: its id and the contact-information texts ("" = absent).
  class Person {
   public:
    virtual ~Person() {}
    std::string id, card, displayName, signature, homepage, icon, map, sound;
  };

  PidfDocument() {}
  virtual ~PidfDocument() {}

  std::string getEntity() const { return entity_; }
  void setEntity(const std::string& v) { entity_ = v; }
  std::string getAgent() const { return agent_; }
  void setAgent(const std::string& v) { agent_ = v; }

  int tupleCount() const { return static_cast<int>(tuples_.size()); }
  std::vector<Tuple>& getTuples() { return tuples_; }
  const std::vector<Tuple>& getTuples() const { return tuples_; }
  void addTuple(const Tuple& tuple) { tuples_.push_back(tuple); }
  // 0 with a copy in `out`, or -1 when index is not in 0..count-1.
  int getTuple(int index, Tuple& out) const;

  Sptr<Person> getPerson() const { return person_; }
  void setPerson(Sptr<Person> person) { person_ = person; }

  std::vector<std::string>& getNotes() { return notes_; }
  const std::vector<std::string>& getNotes() const { return notes_; }

  // 0 with the XML text, or -1 (a value the document cannot carry, e.g. text that is not
  // UTF-8, or two tuples with one id) with `out` untouched.
  int encode(std::string& out) const;
  // Replaces the content with the document's; -1 when it does not parse.
  int decode(const std::string& xml);

 private:
  std::string entity_;
  std::string agent_;
  std::vector<Tuple> tuples_;
  Sptr<Person> person_;
  std::vector<std::string> notes_;
};

#endif  // CORVANE_PIDFDOCUMENT_H
