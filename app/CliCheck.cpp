#include "app/CliCheck.h"

#include <cstdio>

#include "app/CliSettings.h"
#include "app/Json.h"
#include "session/ShowCheck.h"

namespace orvex {

int RunCheckCommand(const std::vector<std::string>& args, const std::string& settingsPath) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: orvex-cli [--settings FILE] check SHOW.csv\n");
    return 2;
  }
  Settings settings;
  if (!LoadCliSettings("check", settingsPath, settings)) return 2;
  const ShowCheckResult result = CheckShow(args[0], settings, true);
  for (const CheckFinding& f : result.findings) {
    JsonObject line;
    line.Add("severity", f.severity).Add("kind", f.kind);
    if (f.channel > 0) line.Add("ch", f.channel).Add("q", f.q);
    if (f.line > 0) line.Add("line", f.line);
    if (!f.path.empty()) line.Add("path", f.path);
    if (!f.item.empty()) line.Add("item", f.item);
    line.Add("what", f.what);
    std::printf("%s\n", line.Text().c_str());
  }
  std::fflush(stdout);
  return result.findings.empty() ? 0 : 1;
}

}  // namespace orvex
