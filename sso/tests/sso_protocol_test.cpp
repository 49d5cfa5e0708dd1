// The wire texts of the single sign-on client: ticket extraction, the
// validation body parser, the operator table and the password forms.
#include "SsoProtocol.h"

#include "sso/IHash.h"

#include <gtest/gtest.h>

namespace {

using namespace sso_protocol;

TEST(SsoProtocolTest, TicketFromRedirectLocation) {
  struct Case {
    const char* location;
    bool found;
    const char* ticket;
  } cases[] = {
      {"http://svc/a?ticket=ST-1&y=2", true, "ST-1"},
      {"http://svc/a?ticket=ST-1", true, "ST-1"},
      {"http://svc/a?x=1&ticket=ST-2", true, "ST-2"},
      {"http://svc/a?ticket=", false, ""},            // an empty ticket is no ticket
      {"http://svc/a?ticket=&x=1", false, ""},
      {"http://svc/a?myticket=ST-3", false, ""},      // only a whole parameter name
      {"http://svc/a?s=http%3A%2F%2Fh%3Fticket%3DST-4", false, ""},
      {"http://svc/ticket=ST-5", false, ""},          // not in the query
      {"", false, ""},
  };
  for (const Case& c : cases) {
    std::string ticket = "old";
    EXPECT_EQ(c.found, extractTicket(c.location, ticket)) << c.location;
    EXPECT_EQ(c.found ? c.ticket : "old", ticket) << c.location;
  }
}

TEST(SsoProtocolTest, ValidationBodyParser) {
  const std::string head = "<cas:serviceResponse><cas:authenticationSuccess>";
  struct Case {
    std::string body;
    int code;
    std::string user;
    std::map<std::string, std::string> attributes;
  } cases[] = {
      {head + "<cas:user>u</cas:user><cas:attribute key='mail'>u@x</cas:attribute>"
              "<cas:attribute key='name'>U</cas:attribute></cas:authenticationSuccess>",
       0, "u", {{"mail", "u@x"}, {"name", "U"}}},
      {head + "<cas:user>u</cas:user><cas:attribute key='a'>1</cas:attribute>"
              "<cas:attribute key='a'>2</cas:attribute>",
       0, "u", {{"a", "1"}}},
      {"<cas:authenticationFailure code='INVALID_TICKET'>no</cas:authenticationFailure>", 4, "", {}},
      {head + "<cas:user></cas:user>", 4, "", {}},  // an empty user is no user
      {head + "<cas:user>u", 4, "", {}},
      // A malformed attribute fails, the ones before it are already taken.
      {head + "<cas:user>u</cas:user><cas:attribute key='a'>1</cas:attribute><cas:attribute x>2",
       4, "", {{"a", "1"}}},
      {head + "<cas:user>u</cas:user><cas:attribute key='a'", 4, "", {}},
      {head + "<cas:user>u</cas:user><cas:attribute key='a'>1</cas:attribute>"
              "<cas:attribute key='b'>2",
       0, "u", {{"a", "1"}}},  // unterminated: dropped
      {"<cas:user>u</cas:user>", 0, "u", {}},
  };
  for (const Case& c : cases) {
    std::string user = "before";
    std::map<std::string, std::string> attributes;
    EXPECT_EQ(c.code, parseValidateBody(c.body, user, attributes)) << c.body;
    EXPECT_EQ(c.code == 0 ? c.user : "before", user) << c.body;
    EXPECT_EQ(c.attributes, attributes) << c.body;
  }
}

TEST(SsoProtocolTest, OperatorTable) {
  std::map<std::string, std::string> table = parseServerTable("a->h1:80;b->;c;a->h2:81");
  EXPECT_EQ((std::map<std::string, std::string>{{"a", "h2:81"}}), table);
  EXPECT_TRUE(parseServerTable("").empty());
  EXPECT_EQ("h:1->x", parseServerTable("n->h:1->x")["n"]) << "split at the first arrow";
}

TEST(SsoProtocolTest, PasswordForms) {
  EXPECT_EQ("5EBE2294ECD0E0F08EAB7690D2A6EE69", passwordParameter("secret", true, false));
  EXPECT_EQ("5EBE2294ECD0E0F08EAB7690D2A6EE69", passwordParameter("secret", true, true));
  EXPECT_EQ("", passwordParameter("", true, false));
  // Base64 "YT8+" must not reach the query with a raw '+'.
  EXPECT_EQ("YT8%2B", passwordParameter("a?>", false, true));
  EXPECT_EQ("c2VjcmV0", passwordParameter("secret", false, true));
  EXPECT_EQ("a%26b%3Dc+d%25", passwordParameter("a&b=c d%", false, false));
  // A long password stays on one line (ACE's default breaks every 72 characters).
  std::string longOne(120, 'x');
  std::string encoded = passwordParameter(longOne, false, true);
  EXPECT_EQ(std::string::npos, encoded.find('\n'));
  EXPECT_EQ(160u, encoded.size());
}

TEST(SsoProtocolTest, Md5HexDigits) {
  MD5 md5;
  std::string digest;
  EXPECT_FALSE(md5.hash("", digest));
  ASSERT_TRUE(md5.hash("abc", digest));
  EXPECT_EQ(16u, digest.size());
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", toHexString(digest, false));
  EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72", toHexString(digest, true));
}

}  // namespace
