// The exported enumerations of the XCAP client library. ElementType lives with the tree node
// values (corvane/TreeNode.h).
#ifndef CORVANE_XCAPTYPES_H
#define CORVANE_XCAPTYPES_H

#include "corvane/TreeNode.h"

// The three enumerations below are int-sized with every int a valid value: a caller may hand
// in a number outside the enumerators, which the operations treat as documented (a failure for
// the coding, plain and blocking for the two modes).

// The coding of the texts a caller hands in and gets back.
enum CodingFormat : int {
  CODING_UTF8 = 0,    // caller texts are UTF-8
  CODING_GB2312 = 1   // caller texts are GB2312 (GBK) and are converted
};

// 1: single sign-on tickets and cookies, with one retry after a 302; any other value: plain.
enum AuthenticateMode : int { AUTH_PLAIN = 0, AUTH_SSO = 1 };

// 1: bodies gathered through the HTTP observer; any other value: one blocking call.
enum DownloadMode : int { DOWNLOAD_BLOCKING = 0, DOWNLOAD_STREAMED = 1 };

// The result of every application-usage operation. 6 and 11 are never produced.
enum XCAPAccessResult {
  XCAP_SUCCESS = 0,
  XCAP_REPLACED = 1,            // a PUT that should create answered 200
  XCAP_NOT_IN_TREE = 2,         // the node is not in the cached buddy tree
  XCAP_DOCUMENT_NOT_FOUND = 3,  // GET of the document answered 404
  XCAP_NODE_NOT_FOUND = 4,      // 404 on a modify or remove
  XCAP_NO_PARENT = 5,           // 409 whose XCAP error body is no-parent
  XCAP_DECODE_FAILED = 7,       // a body failed to parse, or a list is larger than allowed
  XCAP_NETWORK_ERROR = 8,       // the client operation failed
  XCAP_INVALID_ARGUMENT = 9,    // invalid user id, length limit exceeded, argument coding
  XCAP_CODING_ERROR = 10,       // UTF-8 conversion failed
  XCAP_FAILURE = 12             // any other failure
};

#endif  // CORVANE_XCAPTYPES_H
