// Any bytes as a marker file: merging must not crash, and what Orvex writes
// of the merged list must read back as the same list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "show/MarkerFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  orvex::MarkerList list;
  orvex::MergeMarkerText(text, list);
  // A merge never brings a position twice.
  for (size_t i = 0; i < list.size(); ++i)
    for (size_t j = i + 1; j < list.size() && j < i + 64; ++j)
      if (list[i] == list[j]) std::abort();
  const std::string written = orvex::MarkerFileText(list);
  orvex::MarkerList again;
  orvex::MergeMarkerText(written, again);
  if (again != list) std::abort();
  // Merging a file into the list it came from adds nothing.
  orvex::MergeMarkerText(written, again);
  if (again != list) std::abort();
  return 0;
}
