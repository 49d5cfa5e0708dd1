// The skin XML reader of the window library: any text either loads or is refused, and a skin
// that loads builds (and frees) its controls, attributes and all.
#include <cstddef>
#include <cstdint>
#include <string>

#include "duilib/UIlib.h"

using namespace DuiLib;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  CMarkup markup;
  markup.LoadFromString(text);

  // The builder takes text that starts with '<' as the skin itself (up to its first NUL).
  const std::string::size_type nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  if (text.empty() || text[0] != '<') return 0;
  CDialogBuilder builder;
  CControlUI* root = builder.Create(text.c_str());
  delete root;
  return 0;
}
