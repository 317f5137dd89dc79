// "orvex-cli markers dump" run as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "engine/WavBytes.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

struct Output {
  int status = -1;
  std::string out;
};

Output Dump(const std::string& wav) {
  const std::string command =
      std::string(ORVEX_BIN_DIR "/orvex-cli markers dump '") + wav + "' 2>/dev/null";
  Output r;
  FILE* p = popen(command.c_str(), "r");
  char buf[512];
  while (p && fgets(buf, sizeof buf, p)) r.out += buf;
  const int rc = p ? pclose(p) : -1;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return r;
}

TEST(MarkersCommand, PrintsPositionsAndEntryTexts) {
  TempDir dir;
  // 44.1 kHz 16-bit stereo: 176400 bytes a second.
  dir.Write("my.snd/door.wav", Wav(2, 44100, 16, std::string(176400, '\0')));
  dir.Write("my.snd/door.mrk", "4\r\n11025000\r\n0\r\n11025000\r\n3000000000\r\n");
  Output r = Dump(dir.File("my.snd/door.wav"));
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\"bytesPerSecond\": 176400"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"found\": true"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"markers\": [{\"position\": 11025000, \"text\": \"1.02.500\"}, "
                       "{\"position\": 0, \"text\": \"0.00.000\"}, "
                       "{\"position\": 3000000000, \"text\": \"283.26.802\"}]"),
            std::string::npos)
      << r.out;

  // A file without markers lists none; one that is not there fails.
  dir.Write("plain", Wav(1, 8000, 8, std::string(8000, '\x80')));
  r = Dump(dir.File("plain"));
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\"markerFile\": \"" + dir.File("plain.mrk") + "\""), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"found\": false"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"markers\": []"), std::string::npos) << r.out;
  EXPECT_EQ(Dump(dir.File("none.wav")).status, 1);
}

}  // namespace
}  // namespace orvex
