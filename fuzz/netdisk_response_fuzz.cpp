// The net-disk protocol's answers: the first byte picks the response type and the status, the
// rest is the body a server sends. Decoding never fails badly, and a folder listing that decodes
// builds its tree of records.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "http/HTTPResponse.h"
#include "protocol/NPMP_Response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int kind = data[0] % 5;
  const int statuses[] = {200, 204, 200, 404};
  const int status = statuses[(data[0] / 5) % 4];
  const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);

  HTTPResponse http;
  http.setStatus(status);
  http.setReason("R");
  if (!body.empty()) http.setBody(body.data(), body.size());

  switch (kind) {
    case 0: {
      NPMP_CommonResp r;
      r.decode(http);
      break;
    }
    case 1: {
      NPMP_CreateFileResp r;
      if (r.decode(http) == 0) {
        r.getDownloadLink();
        r.getCreated();
      }
      break;
    }
    case 2: {
      NPMP_GetDownLoadLinkResp r;
      r.decode(http);
      break;
    }
    case 3: {
      NPMP_GetSpaceInfoResp r;
      if (r.decode(http) == 0) {
        r.getSpaceUsed();
        r.getSpaceQuota();
      }
      break;
    }
    default: {
      NPMP_GetFolderInfoResp r;
      r.setServer("h:81");
      r.setDomain("d.com");
      r.setUserId("u@d.com");
      r.setRootFolder("/u@d.com/transit/");
      if (r.decode(http) == 0) {
        NodeTree nodes;
        const int count = r.buildTree(nodes);
        PW_FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) == nodes.size());
        for (NodeTree::pre_order_iterator it = nodes.begin(); it != nodes.end(); ++it) delete *it;
        nodes.clear();
      }
      break;
    }
  }
  return 0;
}
