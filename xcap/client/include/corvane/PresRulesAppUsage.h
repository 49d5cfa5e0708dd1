// The "pres-rules" application usage: the user's presence-authorisation document
// (/pres-rules/myusers/<user>/presrules) with three rules told apart by their sub-handling:
// block ("block-list"), confirm ("confirm-list", with each user's invitation message and
// display name) and allow ("allow-list"); a "polite-block" rule is ignored.
//
// The document is fetched on the first read and cached while its ETag is not empty; a fetch
// that fails (or whose body does not decode) leaves no cache, so the next read fetches again.
// Every decode rebuilds the lists, domains and maps from that document alone. Every add or
// remove empties the cache before it sends (one element PUT or DELETE of the rule's
// cr:identity/cr:one[@id=user], with the "cr" and "pr" namespace bindings).
//
// Threads: any thread. Each public operation holds mutex_ (not recursive) for its whole run,
// the request included, so calls on one usage run one at a time; the parse runs under
// Parser::xercesLock_ inside it. No operation throws.
#ifndef CORVANE_PRESRULESAPPUSAGE_H
#define CORVANE_PRESRULESAPPUSAGE_H

#include "corvane/AppUsage.h"

#include <ace/Thread_Mutex.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

class ElementSelector;
namespace CommonPolicy {
class ruleset;
class ruleType;
}  // namespace CommonPolicy

class PresRulesAppUsage : public AppUsage {
 public:
  static const std::string PRESRULES_DOCMENT_NAME;  // "presrules"

  // Made and deleted by AppUsageFactory.
  PresRulesAppUsage(const std::string& user, const CodingFormat& codingFormat,
                    Sptr<IXcapClient> client);
  PresRulesAppUsage(const std::string& user, const CodingFormat& codingFormat,
                    const std::string& address, const AuthenticateMode& authenticateMode,
                    const DownloadMode& downloadMode, const std::string& password);
  ~PresRulesAppUsage() override;

  // Writes the initial document of three empty rules (201 or 200: 0). The cache is left alone.
  XCAPAccessResult putNewDocument();

  // One user into or out of a rule's identity (9 for an invalid id, nothing sent). The cache
  // is emptied whatever the outcome. Add: 201 or 200 -> 0, 409 -> its XCAP error (5 when the
  // rule is missing). Remove: 200 -> 0.
  XCAPAccessResult addToAllowList(const std::string& user);
  XCAPAccessResult addToConfirmList(const std::string& user);
  XCAPAccessResult addToBlockList(const std::string& user);
  XCAPAccessResult removeFromAllowList(const std::string& user);
  XCAPAccessResult removeFromConfirmList(const std::string& user);
  XCAPAccessResult removeFromBlockList(const std::string& user);

  // `out` replaced by the list (fetched first when no cache is held); on failure untouched.
  XCAPAccessResult getAllowList(std::vector<std::string>& out);
  XCAPAccessResult getConfirmList(std::vector<std::string>& out);
  XCAPAccessResult getBlockList(std::vector<std::string>& out);
  XCAPAccessResult getAllowDomains(std::vector<std::string>& out);
  XCAPAccessResult getBlockDomains(std::vector<std::string>& out);

  // Whether the rule names the exact user id; false on any failure.
  bool isBuddyInAllowList(const std::string& user);
  bool isBuddyInConfirmList(const std::string& user);
  bool isBuddyInBlockList(const std::string& user);

  // The confirm rule's invitation message and display name of one user, from the cache only;
  // an output without an entry is left as passed. Returns XCAP_SUCCESS.
  XCAPAccessResult getInviteMessage(const std::string& user, std::string& inviteMsg,
                                    std::string& displayName) const;
  // Copies of both maps (user id -> text). Returns XCAP_SUCCESS.
  XCAPAccessResult getInviteMessages(std::map<std::string, std::string>& inviteMessages,
                                     std::map<std::string, std::string>& displayNames) const;

  // The ETag of the cached document; "" when none is held.
  std::string etag() const;

 private:
  PresRulesAppUsage(const PresRulesAppUsage&) = delete;
  PresRulesAppUsage& operator=(const PresRulesAppUsage&) = delete;

  // All private operations run with mutex_ held by the caller.
  bool isCacheValid() const;
  void clearCache();
  XCAPAccessResult getPresRules();
  std::unique_ptr<CommonPolicy::ruleset> get_ruleset(const std::string& text);
  XCAPAccessResult decodeRuleSet(const std::string& text);
  // Appends the rule's domains and users; for the confirm rule also fills the two maps
  // (null for the other rules).
  XCAPAccessResult decodeRule(const CommonPolicy::ruleType& rule, std::vector<std::string>& domains,
                              std::vector<std::string>& users,
                              std::map<std::string, std::string>* inviteMessages,
                              std::map<std::string, std::string>* displayNames);
  std::string makePresRule(const std::string& id, const std::string& subHandling) const;
  XCAPAccessResult putPresRulesNode(ElementSelector& selector, std::string& body,
                                    std::map<std::string, std::string>& namespaces);
  XCAPAccessResult addUserToList(const std::string& user, const std::string& listId);
  XCAPAccessResult removeUserFromList(const std::string& user, const std::string& listId);
  XCAPAccessResult getAuthList(std::vector<std::string>& out, std::vector<std::string>& source);
  bool findUser(const std::string& user, std::vector<std::string>& list);
  // The selector of cr:one[@id=userId] in the rule listId, and the "cr"/"pr" bindings.
  ElementSelector* oneSelector(const std::string& listId, const std::string& userId) const;
  static std::map<std::string, std::string> bindings();
  XCAPAccessResult addOrRemove(const std::string& user, const std::string& listId, bool add);

  mutable ACE_Thread_Mutex mutex_;  // not recursive; guards every field below
  std::string cachedEtag_;          // "" = no valid cache
  std::vector<std::string> blockDomains_;
  std::vector<std::string> confirmDomains_;
  std::vector<std::string> allowDomains_;
  std::vector<std::string> blockUsers_;
  std::vector<std::string> confirmUsers_;
  std::vector<std::string> allowUsers_;
  std::map<std::string, std::string> inviteMessages_;
  std::map<std::string, std::string> displayNames_;
};

#endif  // CORVANE_PRESRULESAPPUSAGE_H
