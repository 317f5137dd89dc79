// "orvex-cli check": shows broken in one way each give that one finding and
// nothing else; an intact show gives none and exit status 0.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/WavBytes.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

struct Output {
  int status = -1;
  std::vector<std::string> lines;
};

class CheckCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    // The show was made on a machine where the sounds were on D:.
    m_dir.Write("settings.ini", "[DRIVES]\nD=" + m_dir.File("disk") + "\n");
    const std::string tone = Wav(2, 48000, 16, std::string(4800 * 4, '\0'));
    m_dir.Write("disk/snd/ok.wav", tone);
    m_dir.Write("disk/snd/sub/two.wav", tone);
    m_dir.Write("disk/snd/twelve.wav", Wav(1, 48000, 12, std::string(300, '\0')));
    m_dir.Write("disk/snd/set1.lst", "# interval\r\n\r\nD:\\snd\r\nok.wav,1\r\nsub\\two.wav,0\r\n");
    m_dir.Write("disk/snd/set2.lst", "D:\\snd\r\nok.wav\r\ngone.wav,1\r\n");
  }

  // A show with the sound folder D:\snd and the given record lines.
  Output Check(const std::vector<std::string>& records) {
    std::string text = "D:\\snd,\r\n";
    for (const std::string& r : records) text += r + "\r\n";
    m_dir.Write("show.csv", text);
    const std::string command = std::string(ORVEX_BIN_DIR "/orvex-cli --settings '") +
                                m_dir.File("settings.ini") + "' check '" + m_dir.File("show.csv") +
                                "' 2>/dev/null";
    Output r;
    FILE* p = popen(command.c_str(), "r");
    char buf[2048];
    while (p && fgets(buf, sizeof buf, p)) r.lines.emplace_back(buf);
    const int rc = p ? pclose(p) : -1;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return r;
  }

  // A record line: Q number, channel, title, file or command, levels.
  static std::string Cue(int ch, int q, const std::string& file) {
    return std::to_string(q) + "," + std::to_string(ch) + ",t" + std::to_string(q) + "," + file +
           ",10,0,0,,0,1,0,0,0,";
  }

  // The intact cues every broken show keeps beside its one fault.
  static std::vector<std::string> Intact() {
    return {Cue(1, 1, "ok.wav"), Cue(2, 2, "set1.lst"), Cue(3, 3, "sub\\two.wav"),
            Cue(4, 4, "STOP"),   Cue(7, 5, "FOUT"),     Cue(8, 6, "UP")};
  }

  static void ExpectOne(const Output& r, const std::string& kind, const std::string& detail) {
    SCOPED_TRACE(kind);
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.lines.size(), 1u) << ::testing::PrintToString(r.lines);
    EXPECT_NE(r.lines[0].find("\"kind\": \"" + kind + "\""), std::string::npos) << r.lines[0];
    EXPECT_NE(r.lines[0].find(detail), std::string::npos) << r.lines[0];
  }

  TempDir m_dir;
};

TEST_F(CheckCommand, AnIntactShowHasNoFinding) {
  const Output r = Check(Intact());
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.lines.empty()) << ::testing::PrintToString(r.lines);
}

TEST_F(CheckCommand, EachBrokenShowGivesItsOneFinding) {
  auto with = [](const std::string& line) {
    std::vector<std::string> cues = Intact();
    cues.push_back(line);
    return cues;
  };
  ExpectOne(Check(with(Cue(5, 7, "missing.wav"))), "missing-file",
            "\"ch\": 5, \"q\": 7, \"path\": \"D:\\\\snd\\\\missing.wav\"");
  // Found through the drive map only by ignoring letter case: it plays, but
  // not as the show says.
  const Output cased = Check(with(Cue(5, 7, "SUB\\Two.WAV")));
  ExpectOne(cased, "letter-case", "\"severity\": \"warning\"");
  EXPECT_NE(cased.lines[0].find("sub/two.wav"), std::string::npos);
  ExpectOne(Check(with(Cue(5, 7, "twelve.wav"))), "not-playable", "12");
  ExpectOne(Check(with(Cue(5, 7, "set2.lst"))), "missing-item", "\"item\": \"gone.wav\"");
  ExpectOne(Check(with(Cue(5, 7, "nolist.lst"))), "missing-list", "nolist.lst");
  // A line no channel takes: the loader leaves it out, and a save drops it.
  ExpectOne(Check(with(Cue(9, 7, "ok.wav"))), "not-a-cue", "\"line\": 8");
  ExpectOne(Check(with(Cue(7, 7, "ok.wav"))), "bad-command", "\"ch\": 7");
}

TEST_F(CheckCommand, AMarkerFileThatCannotBeReadIsFound) {
  m_dir.Write("disk/snd/ok.mrk/x", "");  // a folder where the marker file goes
  ExpectOne(Check(Intact()), "unreadable-marker", "ok.mrk");
}

}  // namespace
}  // namespace orvex
