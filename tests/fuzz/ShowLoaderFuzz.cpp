// Any bytes as a show file: the loader must not crash, and what it saves must
// read back into the same show (a second save writes the same bytes).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "SilentSink.h"
#include "show/CueStore.h"
#include "show/ShowFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvex::SilenceMessages();
  const std::string input(reinterpret_cast<const char*>(data), size);

  orvex::CueStore first;
  if (!orvex::ParseShowText(input, first).ok) return 0;
  std::string saved;
  if (!orvex::FormatShowText(first, &saved)) return 0;

  orvex::CueStore second;
  if (!orvex::ParseShowText(saved, second).ok) std::abort();  // we wrote it
  std::string again;
  if (!orvex::FormatShowText(second, &again)) std::abort();
  orvex::CueStore third;
  orvex::ParseShowText(again, third);
  std::string last;
  orvex::FormatShowText(third, &last);
  // The first save may round numbers and store look-alikes; after that the
  // show must be a fixed point.
  if (last != again) std::abort();
  return 0;
}
