// The two listener interfaces that carry a fetched address-book model.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "addressbook/ContactModel.h"

// Told by the contact-list agent when a fetch has ended: the root groups, the groups by path,
// the contacts by user id and the status (0 with the new model; otherwise the job's non-zero
// status with an empty model). Called on the thread that ends the fetch (a job thread, or the
// thread that stops the agent), with no lock of the agent held.
class IContactListListener {
 public:
  virtual ~IContactListListener() {}
  virtual void OnUpdate(const std::vector<Sptr<INode>>& rootGroups,
                        std::map<std::string, Sptr<INode>> groups,
                        std::map<std::string, Sptr<INode>> contacts, int status) = 0;
};

// Told by the address-book client after every fetch (the main window). Called on the thread
// that ends the fetch, with no lock of the client held; it must not wait for the thread that
// calls AddressBookClient::clear, stopAgent or removeListener.
class IAddrbookListener {
 public:
  virtual ~IAddrbookListener() {}
  virtual void OnAddrbookUpdate(const std::vector<Sptr<INode>>& rootGroups, int status) = 0;
};
