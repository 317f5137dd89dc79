// Any bytes as a continuous-play list: reading must not crash, and what Orvex
// writes of the list must read back as the same list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "show/ListFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const orvex::ListFileContent first = orvex::ParseListFile(bytes);
  const auto text = orvex::ListFileText(first.folder, first.items);
  if (!text) return 0;  // a name the code page cannot hold is never written
  const orvex::ListFileContent second = orvex::ParseListFile(*text);
  // Nothing written is lost on the way back: no item turns into the folder.
  if (second.items.size() != first.items.size()) std::abort();
  // Names are written without their leading blanks and read back with one,
  // and a folder or name may only shrink by blanks the reader cuts: a second
  // round must change nothing.
  const auto again = orvex::ListFileText(second.folder, second.items);
  if (!again) std::abort();
  const orvex::ListFileContent third = orvex::ParseListFile(*again);
  if (third.folder != second.folder || third.items != second.items) std::abort();
  return 0;
}
