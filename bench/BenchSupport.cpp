#include "BenchSupport.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#ifdef PW_BENCH_HAVE_FILEMD5
#include "client/NetDiskUploadTask.h"
#endif

namespace pwbench {

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pwbench-XXXXXX").string();
  char* made = mkdtemp(&pattern[0]);
  path_ = made != nullptr ? made : "";
}

TempFolder::~TempFolder() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string patternBytes(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  unsigned x = seed;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 16);
  }
  return s;
}

bool writeFile(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

namespace {

const char* const kFamily[] = {u8"张", u8"王", u8"李", u8"赵", u8"刘", u8"陈", u8"杨", u8"黄", u8"周", u8"吴"};
const char* const kGiven[] = {u8"伟", u8"芳", u8"娜", u8"敏", u8"静", u8"丽", u8"强", u8"磊", u8"军", u8"洋",
                              u8"勇", u8"艳", u8"杰", u8"娟", u8"涛", u8"明", u8"超", u8"秀英", u8"霞", u8"平"};
const char* const kDepartment[] = {u8"研发部", u8"测试组", u8"销售部", u8"市场部", u8"财务部", u8"人力资源部"};

}  // namespace

std::string chineseName(int i) {
  return std::string(kFamily[i % 10]) + kGiven[(i / 10) % 20] + (i % 3 == 0 ? kGiven[(i / 7) % 20] : "");
}

std::string chineseText(std::size_t bytes) {
  std::string text;
  for (int i = 0; text.size() < bytes; ++i) {
    text += chineseName(i) + " <user" + std::to_string(i) + "@corp.example.com>, " + kDepartment[i % 6] +
            u8"（北京）; 附件: 报告 2026-12.pdf & notes=a+b\r\n";
  }
  // Cut back to a character boundary: never leave a UTF-8 continuation byte dangling.
  std::size_t cut = bytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text;
}

namespace {

std::string entryXml(int i) {
  return "<entry uri=\"user" + std::to_string(i) + "@corp.example.com\" userType=\"1\"><display-name>" +
         chineseName(i) + u8"</display-name><signature>今天很忙 &amp; 明天也忙</signature><nickname>n" +
         std::to_string(i) + "</nickname><gender>" + (i % 2 ? u8"男" : u8"女") + "</gender></entry>";
}

}  // namespace

std::string resourceListsDocument(int entries) {
  const int departments = 20;
  const int free = entries / 40;
  const int mine = entries / 40;
  const int perDepartment = (entries - free - mine) / departments;
  const int last = entries - free - mine - perDepartment * (departments - 1);
  std::string doc = u8"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    u8"<resource-lists xmlns=\"urn:ietf:params:xml:ns:resource-lists\">"
                    u8"<list name=\"organization\"><display-name>示例公司</display-name>";
  int n = 0;
  for (int d = 0; d < departments; ++d) {
    doc += "<list name=\"dept" + std::to_string(d) + "\"><display-name>" + kDepartment[d % 6] +
           std::to_string(d) + "</display-name>";
    for (int k = 0, count = d + 1 < departments ? perDepartment : last; k < count; ++k) doc += entryXml(n++);
    doc += "</list>";
  }
  for (int k = 0; k < free; ++k) doc += entryXml(n++);
  doc += u8"</list><list name=\"mybuddys\"><display-name>我的好友</display-name>";
  for (int k = 0; k < mine; ++k) doc += entryXml(n++);
  return doc + "</list></resource-lists>";
}

std::string blockMd5(FILE* file, int64_t count) {
#ifdef PW_BENCH_HAVE_FILEMD5
  return FileMd5::compute(file, count);
#else
  // The same reading pattern as the client's FileMd5: 4096-byte reads into one digest.
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) return std::string();
  unsigned char buffer[4096];
  while (file != nullptr && count > 0) {
    std::size_t want = static_cast<std::size_t>(std::min<int64_t>(count, sizeof(buffer)));
    std::size_t got = fread(buffer, 1, want, file);
    if (got == 0) break;
    count -= static_cast<int64_t>(got);
    EVP_DigestUpdate(ctx.get(), buffer, got);
  }
  unsigned char digest[EVP_MAX_MD_SIZE] = {0};
  unsigned int n = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &n) != 1 || n != 16) return std::string();
  static const char kDigits[] = "0123456789abcdef";
  std::string out(32, '0');
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kDigits[digest[i] >> 4];
    out[2 * i + 1] = kDigits[digest[i] & 0x0F];
  }
  return out;
#endif
}

bool blockMd5IsClients() {
#ifdef PW_BENCH_HAVE_FILEMD5
  return true;
#else
  return false;
#endif
}

}  // namespace pwbench
