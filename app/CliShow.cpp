#include "app/CliShow.h"

#include <cstdio>
#include <new>

#include "app/Json.h"
#include "show/CueStore.h"
#include "show/Record.h"
#include "show/ShowFile.h"

namespace orvex {
namespace {

void ReportSkipped(const std::string& path, const std::vector<int>& lines) {
  for (int line : lines) {
    std::fprintf(stderr,
                 "%s:%d: not a valid cue (Q number 0 or less, or no such channel); skipped\n",
                 path.c_str(), line);
  }
}

int Dump(const std::string& path) {
  CueStore store;
  ShowLoadResult result = LoadShowFile(path, store);
  if (!result.ok) return 1;
  ReportSkipped(path, result.skippedLines);
  std::string out = JsonObject().Add("folder", store.GetSoundFolder()).Text() + "\n";
  for (int ch = kFirstChannel; ch <= kLastChannel; ++ch) {
    for (int i = 1; i <= store.GetCount(ch); ++i) {
      const CRecord& r = *store.Find(ch, i);
      out += JsonObject()
                 .Add("ch", ch)
                 .Add("pos", i)
                 .Add("q", r.qNumber)
                 .Add("title", r.title)
                 .Add("file", r.fileOrCommand)
                 .Add("pre", r.preLevel)
                 .Add("fi", r.fadeIn)
                 .Add("fo", r.fadeOut)
                 .Add("desc", r.description)
                 .Add("out", static_cast<int64_t>(r.outputFlags))
                 .Add("seq", r.inSequence)
                 .Add("timing", static_cast<int64_t>(r.timing))
                 .Add("delay", static_cast<int64_t>(r.delay))
                 .Add("outSpec", r.outputSpecified)
                 .Add("command", store.IsCommand(ch, i))
                 .Add("wavPath", store.GetWavPath(ch, i))
                 .Text() +
             "\n";
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int Save(const std::string& in, const std::string& out) {
  CueStore store;
  ShowLoadResult result = LoadShowFile(in, store);
  if (!result.ok) return 1;
  ReportSkipped(in, result.skippedLines);
  ShowSaveProblem problem;
  if (SaveShowFile(out, store, nullptr, &problem)) return 0;
  if (std::string why = DescribeSaveProblem(problem); !why.empty())
    std::fprintf(stderr, "%s: %s\n", out.c_str(), why.c_str());
  return 1;
}

}  // namespace

int RunShowCommand(const std::vector<std::string>& args, const std::string&) {
  try {
    if (args.size() == 2 && args[0] == "dump") return Dump(args[1]);
    if (args.size() == 3 && args[0] == "save") return Save(args[1], args[2]);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "orvex-cli show: not enough memory\n");
    return 1;
  }
  std::fprintf(stderr,
               "usage: orvex-cli show dump FILE.csv | orvex-cli show save IN.csv OUT.csv\n");
  return 2;
}

}  // namespace orvex
