// Net-disk requests and responses on their own: exact URIs, headers and bodies
// of every request, the multipart upload body, day texts, download URLs,
// decoding and the folder tree.
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "protocol/NPMP_Request.h"
#include "protocol/NPMP_Response.h"
#include "testing/FakeNetDiskServer.h"
#include "util/Config.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <ctime>
#include <memory>

namespace {

const char* const kAccept = "text/html, image/gif, image/jpeg, *; q=.2, */*; q=.2";

class RootGuard {
 public:
  explicit RootGuard(const std::string& root) { Config::instance()->setValue("VASTO", "wwwRoot", root); }
  ~RootGuard() { Config::instance()->removeValue("VASTO", "wwwRoot"); }
};

struct Encoded {
  std::string method, uri, body, contentType, accept, ajax, agent, connection;
  long long length;
};

Encoded encode(NPMP_Request& r) {
  HTTPRequest h;
  r.encode(h);
  Encoded e;
  e.method = h.getMethod();
  e.uri = h.getURI();
  e.body = h.getBodyText();
  e.contentType = h.getContentType();
  e.accept = h.get("Accept");
  e.ajax = h.get("ajaxRequest");
  e.agent = h.get("User-Agent");
  e.connection = h.get("Connection");
  e.length = h.getContentLength();
  return e;
}

template <class T>
std::unique_ptr<T> make(const std::string& user = "u@d.com") {
  std::unique_ptr<T> r(T::create());
  r->setDomainName("d.com");
  r->setUserId(user);
  return r;
}

TEST(NpmpRequest, EveryTypeEncodesMethodUriAndBodyExactly) {
  struct Case {
    const char* what;
    std::unique_ptr<NPMP_Request> request;
    const char* method;
    const char* uri;
    const char* body;
  };
  std::vector<Case> cases;

  auto create = make<NPMP_CreateFileReq>();
  create->setPath("/u@d.com/transit/");
  create->setName("a b.bin");
  create->setHash("");
  create->setSize(5000000000LL);  // beyond 32 bits
  create->setBlockTotal(9537);
  cases.push_back({"create", std::move(create), "POST",
                   "/space/rest/server/file/createLargeFile?domainName=d.com&userId=u%40d.com",
                   "{\"blocktotal\":9537,\"hash\":\"\",\"name\":\"a b.bin\",\"path\":\"/u@d.com/transit/\","
                   "\"size\":\"5000000000\"}"});

  auto one = make<NPMP_DeleteReq>();
  one->setPath("/u@d.com/transit/x");
  cases.push_back({"delete one", std::move(one), "POST",
                   "/space/rest/server/file/premove?domainName=d.com&userId=u%40d.com",
                   "{\"path\":\"/u@d.com/transit/x\"}"});

  auto two = make<NPMP_DeleteReq>();
  two->setPath("/u@d.com/transit/x");
  two->setPath("/u@d.com/transit/a");
  cases.push_back({"delete two", std::move(two), "POST",
                   "/space/rest/server/file/premove?domainName=d.com&userId=u%40d.com",
                   "{\"path\":[\"/u@d.com/transit/x\",\"/u@d.com/transit/a\"]}"});

  auto link = make<NPMP_GetDownLoadLinkReq>();
  link->setPath("/u@d.com/transit/x");
  cases.push_back({"link", std::move(link), "POST",
                   "/space/rest/server/file/download?domainName=d.com&userId=u%40d.com",
                   "{\"path\":\"/u@d.com/transit/x\"}"});

  auto folder = make<NPMP_GetFolderInfoReq>();
  folder->setPath("/u@d.com/transit");
  cases.push_back({"listing", std::move(folder), "GET",
                   "/space/rest/server/folder/childfolderAndFiles?depth=100000000&domainName=d.com"
                   "&path=%2Fu%40d.com%2Ftransit&userId=u%40d.com",
                   ""});

  auto space = make<NPMP_GetSpaceInfoReq>("a&b c@d.com");
  space->setServiceType("transit");
  cases.push_back({"space, query values encoded", std::move(space), "GET",
                   "/space/rest/server/user/services/status?domainName=d.com&serviceType=transit"
                   "&userId=a%26b+c%40d.com",
                   ""});

  auto merge = make<NPMP_MegerLargeFileReq>();
  merge->setPath("/u@d.com/transit/x");
  merge->setMd5(std::string(32, '0'));
  cases.push_back({"merge", std::move(merge), "POST",
                   "/space/rest/server/file/megerLargeFileBlock?domainName=d.com&userId=u%40d.com",
                   "{\"md5\":\"00000000000000000000000000000000\",\"path\":\"/u@d.com/transit/x\"}"});

  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    Encoded e = encode(*c.request);
    EXPECT_EQ(c.method, e.method);
    EXPECT_EQ(c.uri, e.uri);
    EXPECT_EQ(c.body, e.body);
    EXPECT_EQ(static_cast<long long>(std::string(c.body).size()), e.length);
    EXPECT_EQ("application/x-www-form-urlencoded", e.contentType);
    EXPECT_EQ(kAccept, e.accept);
    EXPECT_EQ("true", e.ajax);
    EXPECT_EQ("vasto", e.agent);
    EXPECT_NE(std::string::npos, e.connection.find("live")) << e.connection;
    // Encoding twice writes the same request.
    Encoded again = encode(*c.request);
    EXPECT_EQ(e.uri, again.uri);
    EXPECT_EQ(e.body, again.body);
  }
}

TEST(NpmpRequest, ConfiguredRootGainsItsSlash) {
  RootGuard guard("/other/root");
  auto r = make<NPMP_GetSpaceInfoReq>();
  EXPECT_EQ("/other/root/", r->getRoot());
  EXPECT_EQ(0u, encode(*r).uri.find("/other/root/user/services/status?"));
}

TEST(NpmpRequest, QueryHelpersOnEmptyInput) {
  NPMP_Request r;
  EXPECT_EQ("", r.AppendUriElements(""));
  EXPECT_EQ("/p", r.AppendUriElements("/p"));
  r.addParameter("", Json::JSONValue("x"));
  EXPECT_TRUE(r.getParameters().empty());
}

// The multipart body as the transport sends it: head, block, delimiter.
TEST(NpmpUpload, BodyIsHeadThenBlockThenClosingDelimiter) {
  const std::string names[] = {"a.bin",
                               "a-rather-long-file-name-that-makes-the-disposition-header-fold-over.bin"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::string block = std::string("\r\n--\0\xff binary", 13) + std::string(5000, 'x');
    auto r = make<NPMP_UploadFileReq>();
    r->setFilePath("/u@d.com/transit/" + name);
    r->setBlockHash(pwtest::FakeNetDiskServer::md5Hex(block));
    r->setOffset(6000000000ULL);
    r->setBlockId(11444);
    r->setBlockTotal(11445);
    r->setBlockSize(static_cast<uint32_t>(block.size()));
    r->setOperationPath("file/uploadBlock");
    EXPECT_EQ(name, r->getFileName());

    HTTPRequest h;
    r->encode(h);
    EXPECT_EQ("POST", h.getMethod());
    EXPECT_EQ("/space/rest/server/file/uploadBlock?domainName=d.com&userId=u%40d.com", h.getURI());
    EXPECT_EQ("true", h.get("ajaxRequest"));
    EXPECT_EQ("vasto", h.get("User-Agent"));
    EXPECT_EQ("", h.get("Accept"));
    std::string type = h.getContentType();
    ASSERT_EQ(0u, type.find("multipart/form-data; boundary=\"")) << type;
    ASSERT_EQ('"', type[type.size() - 1]);
    std::string boundary = type.substr(31, type.size() - 32);
    EXPECT_EQ("\r\n--" + boundary + "--\r\n", r->getClosingDelimiter());

    std::string head = h.getBodyText();
    EXPECT_EQ(head.size() - 4, head.rfind("\r\n\r\n"));  // stops right where the block begins
    EXPECT_EQ(std::string::npos, head.find(boundary + "--"));
    EXPECT_EQ(static_cast<long long>(head.size() + block.size() + r->getClosingDelimiter().size()),
              h.getContentLength());

    pwtest::MultipartUpload parsed;
    std::string error;
    ASSERT_TRUE(pwtest::FakeNetDiskServer::parseUpload(type, head + block + r->getClosingDelimiter(),
                                                       parsed, error))
        << error;
    EXPECT_EQ(block, parsed.data);
    EXPECT_EQ(name, parsed.fileName);
    EXPECT_NE(std::string::npos, parsed.postHeaders.find("text/plain; charset=\"utf-8\""));
    EXPECT_NE(std::string::npos, parsed.postHeaders.find("Content-Transfer-Encoding: 8bit"));
    EXPECT_NE(std::string::npos, parsed.fileHeaders.find("application/octet-stream; charset=\"ISO-8859-1\""));
    EXPECT_NE(std::string::npos, parsed.fileHeaders.find("Content-Transfer-Encoding: binary"));
    nlohmann::json post = nlohmann::json::parse(parsed.txtPost);
    EXPECT_EQ(nlohmann::json::parse("{\"blockhash\":\"" + pwtest::FakeNetDiskServer::md5Hex(block) +
                                    "\",\"blockid\":\"11444\",\"blocksize\":" + std::to_string(block.size()) +
                                    ",\"blocktotal\":11445,\"filepath\":\"/u@d.com/transit/" + name +
                                    "\",\"offset\":6000000000}"),
              post);
    EXPECT_TRUE(post["offset"].is_number_unsigned());
    EXPECT_TRUE(post["blocksize"].is_number_unsigned());

    // A body cut short, or with bytes after the delimiter, does not parse.
    EXPECT_FALSE(pwtest::FakeNetDiskServer::parseUpload(
        type, head + block.substr(1) + r->getClosingDelimiter(), parsed, error));
    EXPECT_FALSE(pwtest::FakeNetDiskServer::parseUpload(
        type, head + block + r->getClosingDelimiter() + "x", parsed, error));
  }
}

class TzGuard {
 public:
  explicit TzGuard(const char* tz) {
    const char* old = getenv("TZ");
    had_ = old != 0;
    if (had_) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TzGuard() {
    if (had_) setenv("TZ", old_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  bool had_;
  std::string old_;
};

TEST(NpmpResponse, FormatDateIsLocalMidnightPlusSixteenDaysInUtc) {
  Json::JSONObject date;
  ASSERT_TRUE(date.decode("{\"year\":114,\"month\":4,\"date\":1,\"hours\":10,\"minutes\":5,\"seconds\":3}"));
  {
    TzGuard tz("Asia/Shanghai");
    EXPECT_EQ("2014-05-16", NPMP_Response::formatDate(date));
  }
  {
    TzGuard tz("UTC");
    EXPECT_EQ("2014-05-17", NPMP_Response::formatDate(date));
  }
  EXPECT_EQ("", NPMP_Response::formatDate(Json::JSONValue(Json::nullValue)));
}

TEST(NpmpResponse, MakeDownloadUrl) {
  struct Case {
    const char *user, *server, *domain, *link, *url;
  } cases[] = {
      {"u@d.com", "h:81", "d.com", "abc\r\n", "http://h:81/space/abc?domainName=d.com&userId=u%40d.com"},
      {"u@d.com", "h:81", "d.com", "/abc", "http://h:81/space/abc?domainName=d.com&userId=u%40d.com"},
      {"u@d.com", "h:81", "d.com", "abc", "http://h:81/space/abc?domainName=d.com&userId=u%40d.com"},
      {"u@d.com", "h:81", "d.com", "a?x=1", "http://h:81/space/a?x=1&domainName=d.com&userId=u%40d.com"},
      {"a&b@d.com", "h", "d.com", "abc", "http://h/space/abc?domainName=d.com&userId=a%26b%40d.com"},
      {"u@d.com", "h:81", "d.com", "\r\n", "http://h:81/space/\r\n?domainName=d.com&userId=u%40d.com"},
      {"", "h:81", "d.com", "abc", ""},
      {"u@d.com", "", "d.com", "abc", ""},
      {"u@d.com", "h:81", "", "abc", ""},
      {"u@d.com", "h:81", "d.com", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.url, NPMP_Response::makeDownloadUrl(c.user, c.server, c.domain, c.link)) << c.link;
  }
}

HTTPResponse answer(int status, const std::string& body) {
  HTTPResponse r;
  r.setStatus(status);
  r.setReason("R");
  if (!body.empty()) r.setBody(body.data(), body.size());
  return r;
}

TEST(NpmpResponse, DecodeReadsOnlySuccessfulBodies) {
  {
    NPMP_GetSpaceInfoResp r;
    HTTPResponse h = answer(404, "not json");
    EXPECT_EQ(0, r.decode(h));
    EXPECT_EQ(404, r.getStatus());
    EXPECT_EQ("R", r.getReason());
  }
  {
    NPMP_GetSpaceInfoResp r;
    HTTPResponse h = answer(200, "<html>");
    EXPECT_EQ(-1, r.decode(h));
  }
  {
    NPMP_GetSpaceInfoResp r;
    HTTPResponse h = answer(200, "{\"spaceUsed\":1.5e10,\"spaceQuota\":20000000000}");
    EXPECT_EQ(0, r.decode(h));
    EXPECT_DOUBLE_EQ(1.5e10, r.getSpaceUsed());
    EXPECT_DOUBLE_EQ(2e10, r.getSpaceQuota());
  }
  {
    // A success without the body the fields come from is a failed answer.
    NPMP_GetSpaceInfoResp space;
    HTTPResponse h = answer(200, "");
    EXPECT_EQ(-1, space.decode(h));
    NPMP_GetDownLoadLinkResp link;
    EXPECT_EQ(-1, link.decode(h));
    NPMP_CreateFileResp create;
    EXPECT_EQ(-1, create.decode(h));
    NPMP_CommonResp common;
    EXPECT_EQ(0, common.decode(h));
  }
  {
    NPMP_CreateFileResp r;
    HTTPResponse h = answer(200, "{\"downloadLink\":\"file/get/T1\",\"created\":{\"year\":114,\"month\":4,"
                                 "\"date\":1,\"hours\":0,\"minutes\":0,\"seconds\":0}}");
    EXPECT_EQ(0, r.decode(h));
    EXPECT_EQ("file/get/T1", r.getDownloadLink());
    TzGuard tz("UTC");
    EXPECT_EQ("2014-05-17", r.getCreated());
  }
  {
    NPMP_GetDownLoadLinkResp r;
    HTTPResponse h = answer(204, "file/get/T9\r\n");
    EXPECT_EQ(0, r.decode(h));
    EXPECT_EQ("file/get/T9\r\n", r.getDownloadLink());
  }
}

TEST(NpmpResponse, FolderTreeIsWalkedDepthFirstWithRelativePaths) {
  const std::string body = u8R"({"isFolder":true,"path":"/u@d.com/transit","name":"transit","txnid":1,"id":"F0",
    "owner":"u@d.com","creator":"u@d.com","created":{"year":114,"month":4,"date":1},
    "children":[
      {"isFolder":true,"path":"/u@d.com/transit/sub","name":"sub","txnid":2,"id":"F1","owner":"u@d.com",
       "creator":"c","children":[
         {"isFolder":false,"path":"/u@d.com/transit/sub/in.bin","name":"in.bin","txnid":3,"id":"A",
          "md5hash":"m1","size":6000000000,"nocomplete":true,"downloadLink":"file/get/A\r\n"}]},
      {"isFolder":false,"path":"/u@d.com/transit/报告.doc","name":"报告.doc","txnid":4,"id":"B",
       "md5hash":"","size":7,"nocomplete":false,"downloadLink":""},
      {"isFolder":true,"path":"/u@d.com/transit/empty","name":"empty","children":[]}]})";
  NPMP_GetFolderInfoResp r;
  HTTPResponse h = answer(200, body);
  ASSERT_EQ(0, r.decode(h));
  r.setServer("h:81");
  r.setDomain("d.com");
  r.setUserId("u@d.com");
  r.setRootFolder("/u@d.com/transit/");
  NodeTree nodes;
  EXPECT_EQ(5, r.buildTree(nodes));
  ASSERT_EQ(5u, nodes.size());

  std::vector<CNodeInfo*> order;
  for (NodeTree::pre_order_iterator it = nodes.begin(); it != nodes.end(); ++it) order.push_back(*it);
  ASSERT_EQ(5u, order.size());
  EXPECT_TRUE(order[0]->isFolder);
  EXPECT_EQ("", order[0]->path);
  EXPECT_EQ("transit", order[0]->name);
  EXPECT_EQ(1, order[0]->txnid);
  EXPECT_EQ("F0", order[0]->id);
  EXPECT_EQ("u@d.com", order[0]->owner);
  EXPECT_FALSE(order[0]->created.empty());
  EXPECT_EQ("sub", order[1]->path);
  EXPECT_EQ("c", order[1]->creator);
  EXPECT_EQ(nullptr, dynamic_cast<CFileInfo*>(order[1]));
  CFileInfo* in = dynamic_cast<CFileInfo*>(order[2]);
  ASSERT_NE(nullptr, in);
  EXPECT_EQ("sub/in.bin", in->path);
  EXPECT_EQ(6000000000LL, in->size);
  EXPECT_TRUE(in->nocomplete);
  EXPECT_EQ("m1", in->md5hash);
  EXPECT_EQ("http://h:81/space/file/get/A?domainName=d.com&userId=u%40d.com", in->downloadLink);
  EXPECT_EQ(3u, nodes.number_of_children(nodes.begin()));
  CFileInfo* doc = dynamic_cast<CFileInfo*>(order[3]);
  ASSERT_NE(nullptr, doc);
  EXPECT_EQ("报告.doc", doc->name);  // GBK, as the program keeps its text
  EXPECT_EQ("报告.doc", doc->path);
  EXPECT_EQ("", doc->downloadLink);
  EXPECT_FALSE(doc->nocomplete);
  EXPECT_EQ("empty", order[4]->path);

  for (NodeTree::pre_order_iterator it = nodes.begin(); it != nodes.end(); ++it) delete *it;
  nodes.clear();
}

}  // namespace
