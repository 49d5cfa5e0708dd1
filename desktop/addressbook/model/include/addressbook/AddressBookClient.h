// The desktop program's one entry to the enterprise address book: the main window initialises
// it at login, asks it to fetch, clears it at logout and listens for the end of every fetch;
// the dialogs read its model and state, the contact table maps search hits back through
// findContact, the update dialog stops a fetch with stopAgent.
//
// State: 0 idle (no book since login, or the last fetch failed or was stopped), 1 fetching,
// 2 fetched and stored in the contact table, 3 fetched but not stored (the table refused it).
// Two facts are read from it apart: a book is there to show (2 and 3, bookFetched: the picker
// shows its tree and searches whatever the table holds), and the update succeeded (2 only: the
// update dialog's text).
//
// Threads and locks:
//   - UI thread: the constructor, init, update, clear, stopAgent, addListener, removeListener
//     and the dialogs' reads. The job thread of a fetch (or the thread that stops it): OnUpdate,
//     getAgent. findContact, getRootGroups, getModel, getState: any thread.
//   - modelMutex guards groups, contacts, rootGroups and retiredModels; a state change that
//     comes with a model is made under it too. It is never held while the agent or a listener
//     is called; clear and stopAgent stop and unregister the agent without any lock held.
//   - agentMutex guards the agent pointer (a leaf lock: nothing is called under it).
//   - The listeners are called outside every lock of the client (ListenerList); a listener
//     must not call addListener or removeListener of this client, nor wait for the UI thread.
//   - state is atomic.
//
// Model lifetime: a model replaced by a later fetch is kept whole while something outside it
// still holds one of its nodes (the picker holds the contacts its tree shows); every install
// releases (breaks the cycles of) each replaced model that nobody holds any more, and clear,
// init and the destructor break the current and every replaced model. A failed or cancelled
// fetch leaves the installed model in place; a book fetched but not stored in the contact table
// (status 1 with a model) is installed all the same, with state 3.
#pragma once

#include <ace/Singleton.h>
#include <ace/Thread_Mutex.h>

#include <atomic>
#include <list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "addressbook/AddressBookListeners.h"
#include "addressbook/ContactListAgent.h"
#include "addressbook/ContactModel.h"
#include "addressbook/ListenerList.h"
#include "corvane/Sptr.h"

class AddressBookClient : public IContactListListener {
 public:
  enum State { STATE_IDLE = 0, STATE_UPDATING = 1, STATE_UPDATED = 2, STATE_NOT_STORED = 3 };

  // Opens the job runner.
  AddressBookClient();
  ~AddressBookClient() override;

  static AddressBookClient* instance() {
    return ACE_Singleton<AddressBookClient, ACE_Thread_Mutex>::instance();
  }

  // The agent's end-of-fetch call: state 2 and the new model on status 0; a failure that brings
  // a model (fetched, not stored) installs it with state 3; any other failure: state 0, the
  // installed model stays. Then every listener gets the root groups and the status.
  void OnUpdate(const std::vector<Sptr<INode>>& rootGroups,
                std::map<std::string, Sptr<INode>> groups,
                std::map<std::string, Sptr<INode>> contacts, int status) override;
  // Starts a fetch: 0 when one was started or is already running, -1 when none could be.
  virtual int update();
  virtual void addListener(IAddrbookListener* listener);
  // Returns once no notification can still call the listener.
  virtual void removeListener(IAddrbookListener* listener);

  // Stores the credentials, clears, recreates the contact table for the user and hands the
  // credentials to an existing agent.
  void init(const std::string& userId, const std::string& password);
  // During a fetch: stops and drops the agent (a cancelled fetch may be reported to the
  // listeners on this thread, status 2) and becomes idle. Always: drops the model and breaks
  // its cycles. Returns with no model installed and, after a fetch, no later notification.
  void clear();
  // Stops the running fetch (if any), drops the agent and becomes idle; the model stays.
  void stopAgent();

  // Installs a model (the previous one is retired, see above).
  void setModel(const std::vector<Sptr<INode>>& rootGroups, std::map<std::string, Sptr<INode>> groups,
                std::map<std::string, Sptr<INode>> contacts);
  // The contact of that user id in the installed model, or an empty pointer.
  Sptr<INode> findContact(const std::string& name);
  // Appends, in order, the contact of each user id that the installed model has (one lock;
  // a hashed lookup per id, the index made on the first call after the model changed).
  void findContacts(const std::vector<std::string_view>& names, std::vector<Sptr<INode>>& out);
  // Replaced models kept alive (diagnostics and tests).
  size_t retiredModelCount();
  Sptr<ContactListAgent> getAgent();

  // Copies for readers on other threads than the one that installs.
  std::vector<Sptr<INode>> getRootGroups();
  void getModel(std::vector<Sptr<INode>>& rootGroups, std::map<std::string, Sptr<INode>>& groups,
                std::map<std::string, Sptr<INode>>& contacts);
  int getState() const { return state.load(); }
  // The last fetch that ended brought a book, stored or not (states 2 and 3).
  bool bookFetched() const {
    const int s = state.load();
    return s == STATE_UPDATED || s == STATE_NOT_STORED;
  }

  // Read directly by the dialogs; use getState/getRootGroups from other threads.
  std::atomic<int> state;

 private:
  AddressBookClient(const AddressBookClient&) = delete;
  AddressBookClient& operator=(const AddressBookClient&) = delete;

  struct Model {
    std::vector<Sptr<INode>> rootGroups;
    std::map<std::string, Sptr<INode>> groups;
    std::map<std::string, Sptr<INode>> contacts;
  };
  // Takes the agent out of `agent` if it still is `which`.
  void dropAgent(const Sptr<ContactListAgent>& which);
  // Retires the current model and installs the new one; modelMutex held.
  void installLocked(const std::vector<Sptr<INode>>& roots, std::map<std::string, Sptr<INode>>& newGroups,
                     std::map<std::string, Sptr<INode>>& newContacts);
  // Moves the current and retired models out, under modelMutex.
  void takeModels(std::list<Model>& out);
  // Moves the retired models that nothing outside them holds into out; modelMutex held.
  void takeUnheldLocked(std::list<Model>& out);
  // Forgets the index of the contacts; modelMutex held, whenever `contacts` changes.
  void dropContactIndexLocked();
  static bool heldFromOutside(const Model& model);
  static void breakAll(std::list<Model>& models);

  std::map<std::string, Sptr<INode>> groups;    // guarded by modelMutex
  std::map<std::string, Sptr<INode>> contacts;  // guarded by modelMutex
  std::vector<Sptr<INode>> rootGroups;          // guarded by modelMutex
  std::list<Model> retiredModels;               // guarded by modelMutex
  // `contacts` by user id, hashed, for findContacts: one flat table (open addressing, linear
  // probing, at most half full) whose slots hold each id's hash and view the key and the value
  // of its entry in `contacts`. Empty until the first lookup after a change. Guarded by
  // modelMutex.
  struct IndexSlot {
    size_t hash;
    std::string_view key;
    const Sptr<INode>* value;  // null: a free slot
  };
  std::vector<IndexSlot> contactIndex;
  Sptr<ContactListAgent> agent;                 // guarded by agentMutex
  ACE_Thread_Mutex agentMutex;
  ACE_Thread_Mutex modelMutex;
  ListenerList<IAddrbookListener> listeners;
  std::string userId;    // UI thread only
  std::string password;  // UI thread only
};
