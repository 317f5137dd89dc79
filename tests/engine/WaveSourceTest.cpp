#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/WavBytes.h"
#include "engine/WaveSource.h"
#include "unit/MessageRecorder.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr uint32_t kCdRate = 176400;  // 44.1 kHz, 16-bit stereo

class WaveSourceTest : public ::testing::Test {
 protected:
  std::string Put(const std::string& bytes, const std::string& name = "a.wav") {
    dir_.Write(name, bytes);
    return dir_.File(name);
  }

  TempDir dir_;
  MessageRecorder messages_;
};

// --- Opening -------------------------------------------------------------------

TEST_F(WaveSourceTest, RefusedFilesReportTheirReasonAndLeaveNothingOpen) {
  const std::string fmt = Chunk("fmt ", FmtBody(2, 44100, 16));
  const std::string data = Chunk("data", Samples(8));
  const std::string extensible =
      FmtBody(2, 44100, 24, kFormatExtensible) + Le16(22) + std::string(22, '\x01');
  using enum WaveOpenError;
  const struct {
    WaveOpenError error;
    const char* message;
    std::vector<std::string> files;
  } refusals[] = {
      {kNotRiffWave,
       kWaveNotRiffWave,
       {"just some text, not audio", "RIFF" + Le32(4 + fmt.size()) + "AVI " + fmt,
        std::string("RIFF\x10\0\0\0WA", 10)}},
      // The second has fmt beyond the RIFF size, though the file holds it.
      {kNoFormat, kWaveNoFormat, {Riff(data), Riff(Chunk("junk", "xx"), 10) + fmt + data}},
      // Cut off by the end of the file, sized past it, without the bits field.
      {kFormatReadFailed,
       kWaveFormatReadFailed,
       {Riff(fmt.substr(0, 18)), Riff(Chunk("fmt ", FmtBody(2, 44100, 16), 0xFFFFFFF0u)),
        Riff(Chunk("fmt ", FmtBody(2, 44100, 16).substr(0, 14)) + data)}},
      {kNotPcm,
       kWaveNotPcm,
       {Riff(Chunk("fmt ", FmtBody(2, 44100, 32, kFormatFloat)) + data),
        Riff(Chunk("fmt ", extensible) + data)}},
      // Data before fmt, none at all, and data hidden by a size past the end.
      {kNoData,
       kWaveNoData,
       {Riff(data + fmt), Riff(fmt + Chunk("LIST", "abc")),
        Riff(fmt + Chunk("junk", "ab", 0xFFFFFFF0u) + data)}},
  };
  for (const auto& r : refusals) {
    for (size_t i = 0; i < r.files.size(); ++i) {
      SCOPED_TRACE(testing::Message() << r.message << " #" << i);
      messages_.messages.clear();
      CWaveSource source(0);
      EXPECT_FALSE(source.OpenWaveFile(Put(r.files[i])));
      EXPECT_THAT(messages_.messages, ElementsAre(r.message));
      EXPECT_EQ(source.LastOpenError(), r.error);
      EXPECT_FALSE(source.IsOpen());
      EXPECT_EQ(source.Format(), WaveFormat{});
      uint8_t buf[16];
      EXPECT_EQ(source.ReadBlock(buf, sizeof buf), 0u);
    }
  }
}

TEST_F(WaveSourceTest, MissingFileDirectoryAndEmptyDataFailWithoutMessage) {
  CWaveSource source(0);
  EXPECT_FALSE(source.OpenWaveFile(dir_.File("missing.wav")));
  EXPECT_EQ(source.LastOpenError(), WaveOpenError::kCannotOpen);
  EXPECT_EQ(source.OpenErrno(), ENOENT);
  EXPECT_FALSE(source.OpenWaveFile(dir_.Path().string()));
  EXPECT_EQ(source.LastOpenError(), WaveOpenError::kCannotOpen);
  EXPECT_EQ(source.OpenErrno(), EISDIR);
  EXPECT_FALSE(source.OpenWaveFile(Put(Wav(2, 44100, 16, ""))));
  EXPECT_EQ(source.LastOpenError(), WaveOpenError::kEmptyData);
  EXPECT_FALSE(source.IsOpen());
  EXPECT_EQ(source.Format(), WaveFormat{});
  EXPECT_THAT(messages_.messages, IsEmpty());
}

TEST_F(WaveSourceTest, AcceptedLayoutsFindTheFormatAndTheSamples) {
  const std::string samples = Samples(301);
  const std::string fmt16 = Chunk("fmt ", FmtBody(1, 22050, 8)), data = Chunk("data", samples);
  auto fmt = [](const std::string& extra) { return Chunk("fmt ", FmtBody(1, 22050, 8) + extra); };
  struct Layout {
    const char* name;
    std::string bytes;
    uint32_t fmtSize;
    uint16_t extraSize;
    uint64_t dataOffset;
  };
  const std::vector<Layout> layouts = {
      {"plain 44-byte header", Riff(fmt16 + data), 16, 0, 44},
      {"18-byte fmt", Riff(fmt(Le16(0)) + data), 18, 0, 12 + 8 + 18 + 8},
      {"fmt with extra bytes", Riff(fmt(Le16(4) + "wxyz") + data), 22, 4, 12 + 8 + 22 + 8},
      {"odd fmt size", Riff(fmt(Le16(1) + "q") + data), 19, 1, 12 + 8 + 20 + 8},
      {"odd chunks between fmt and data",
       Riff(fmt16 + Chunk("LIST", "abc") + Chunk("junk", "12345") + data), 16, 0,
       12 + 24 + 12 + 14 + 8},
      {"chunks before fmt and a leading top-level chunk",
       Chunk("ID3 ", "tag") + Riff(Chunk("bext", "b") + fmt16 + data), 16, 0,
       12 + 12 + 10 + 24 + 8},
      {"RIFF size left at its maximum", Riff(fmt16 + data, 0xFFFFFFFFu), 16, 0, 44},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    CWaveSource source(0);
    ASSERT_TRUE(source.OpenWaveFile(Put(l.bytes)));
    EXPECT_EQ(source.LastOpenError(), WaveOpenError::kNone);
    EXPECT_EQ(source.FormatChunkSize(), l.fmtSize);
    EXPECT_EQ(source.Format().extraSize, l.extraSize);
    EXPECT_EQ(source.Format().bitsPerSample, 8);
    EXPECT_EQ(source.DataOffset(), l.dataOffset);
    EXPECT_EQ(source.DataSize(), 301u);
    EXPECT_EQ(source.Remaining(), 301u);
    std::string got(512, '\0');
    ASSERT_EQ(source.ReadBlock(reinterpret_cast<uint8_t*>(got.data()), 512), 301u);
    EXPECT_EQ(got.substr(0, 301), samples);
  }
  // Paths longer than 127 characters.
  const std::string path = Put(Wav(1, 8000, 16, Samples(20)),
                               std::string(140, 'p') + "/" + std::string(40, 'q') + ".wav");
  CWaveSource source(0);
  EXPECT_TRUE(source.OpenWaveFile(path));
  EXPECT_EQ(source.FilePath(), path);
  EXPECT_THAT(messages_.messages, IsEmpty());
}

TEST_F(WaveSourceTest, FormatFieldsDerivedValuesAndThePlayerTable) {
  for (uint16_t bits : {8, 16, 24, 32}) {
    for (uint16_t channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, " << channels << " channels");
      const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
      const int player = channels * 2 + bits / 16;  // spread over the slots 2..6
      CWaveSource source(player);
      ASSERT_TRUE(source.OpenWaveFile(Put(Wav(channels, 48000, bits, Samples(align * 10u)))));
      const WaveFormat f{kFormatPcm, channels, 48000, 48000u * align, align, bits};
      EXPECT_EQ(source.Format(), f);
      EXPECT_EQ(source.BytesPerSecond(), 48000u * align);
      EXPECT_EQ(source.TickBytes(), 4800u * align);
      EXPECT_EQ(source.Channels(), channels);
      EXPECT_EQ(source.BlockAlign(), align);
      EXPECT_EQ(PlayerFormat(player), f);
      // A refused file leaves the slot with the last good format.
      EXPECT_FALSE(source.OpenWaveFile(Put("nope", "bad.wav")));
      EXPECT_EQ(PlayerFormat(player).bitsPerSample, bits);
    }
  }
  // Indexes outside the table read empty and write nothing.
  EXPECT_EQ(PlayerFormat(-1), WaveFormat{});
  CWaveSource outside(kWavePlayerCount);
  EXPECT_TRUE(outside.OpenWaveFile(Put(Wav(2, 44100, 16, Samples(16)))));
  EXPECT_EQ(PlayerFormat(kWavePlayerCount), WaveFormat{});
}

// --- Reading -------------------------------------------------------------------

TEST_F(WaveSourceTest, ReadBlockStopsAtTheEndOfTheData) {
  CWaveSource source(0);
  const std::string samples = Samples(10 * kCdRate);
  ASSERT_TRUE(source.OpenWaveFile(Put(Wav(2, 44100, 16, samples))));
  ASSERT_EQ(source.TickBytes(), 17640u);
  EXPECT_EQ(source.PieceBytes(), 70560u);
  std::vector<uint8_t> second(kCdRate);
  EXPECT_EQ(source.ReadBlock(second.data(), kCdRate), kCdRate);
  EXPECT_EQ(source.LastReadCount(), kCdRate);
  EXPECT_EQ(source.Remaining(), 9 * kCdRate);
  EXPECT_TRUE(std::equal(second.begin(), second.end(), samples.begin(),
                         [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }));

  // 0.5 s of data and a trailing chunk after it that must not be read as
  // samples.
  ASSERT_TRUE(source.OpenWaveFile(
      Put(Riff(Chunk("fmt ", FmtBody(2, 44100, 16)) +
               Chunk("data", samples.substr(0, kCdRate / 2)) + Chunk("LIST", "trailing")))));
  std::vector<uint8_t> buf(2 * kCdRate);
  EXPECT_EQ(source.ReadBlock(buf.data(), 2 * kCdRate), kCdRate / 2);
  EXPECT_EQ(buf[kCdRate / 2], 0);
  EXPECT_EQ(source.Remaining(), 0u);
  EXPECT_EQ(source.ReadBlock(buf.data(), 16), 0u);
  EXPECT_TRUE(source.SeekData(0));
  EXPECT_EQ(source.ReadBlock(nullptr, 16), 0u);
}

TEST_F(WaveSourceTest, DataChunkLongerThanTheFileReadsWhatExistsThenEnds) {
  const std::string samples = Samples(300);
  CWaveSource source(0);
  ASSERT_TRUE(source.OpenWaveFile(
      Put(Riff(Chunk("fmt ", FmtBody(2, 44100, 16)) + Chunk("data", samples, 1000)))));
  EXPECT_EQ(source.DataSize(), 1000u);
  std::vector<uint8_t> buf(4096);
  EXPECT_EQ(source.ReadBlock(buf.data(), 4096), 300u);
  EXPECT_EQ(source.Remaining(), 700u);
  EXPECT_EQ(source.ReadBlock(buf.data(), 4096), 0u);
  EXPECT_EQ(source.Remaining(), 700u);

  ASSERT_TRUE(source.SeekData(100));
  EXPECT_EQ(source.ReadBlock(buf.data(), 50), 50u);
  EXPECT_EQ(buf[0], static_cast<uint8_t>(samples[100]));
  EXPECT_EQ(source.Remaining(), 850u);
  EXPECT_EQ(source.LastReadCount(), 50u);
  EXPECT_EQ(source.ReadBlock(buf.data(), 4096), 150u);
  EXPECT_THAT(messages_.messages, IsEmpty());
}

TEST_F(WaveSourceTest, SeekSetsRemainingAndPosition) {
  const std::string samples = Samples(1000);
  CWaveSource source(0);
  ASSERT_TRUE(source.OpenWaveFile(Put(Wav(2, 44100, 16, samples))));
  uint8_t buf[8];
  ASSERT_TRUE(source.SeekData(996));
  EXPECT_EQ(source.Remaining(), 4u);
  EXPECT_EQ(source.ReadBlock(buf, sizeof buf), 4u);
  EXPECT_EQ(buf[3], static_cast<uint8_t>(samples[999]));
  ASSERT_TRUE(source.SeekData(1000));
  EXPECT_EQ(source.Remaining(), 0u);
  EXPECT_TRUE(source.SeekData(5000));
  EXPECT_EQ(source.Remaining(), 0u);
  EXPECT_EQ(source.ReadBlock(buf, sizeof buf), 0u);
  EXPECT_THAT(messages_.messages, IsEmpty());
  source.CloseWaveFile();
  EXPECT_FALSE(source.SeekData(0));
  EXPECT_EQ(source.Format(), WaveFormat{});
}

// --- orvex-cli wav info --------------------------------------------------------

// Runs orvex-cli with `args`; returns its exit code and what it printed.
int RunCli(const std::string& args, std::string& output) {
  std::FILE* p = ::popen((ORVEX_BIN_DIR "/orvex-cli " + args).c_str(), "r");
  if (p == nullptr) return -1;
  char chunk[256];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, p)) > 0;) output.append(chunk, n);
  const int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(WaveSourceTest, CliPrintsTheFormatOrTheReason) {
  std::string out;
  EXPECT_EQ(RunCli("wav info " + Put(Wav(2, 44100, 16, Samples(1000))) + " 2>/dev/null", out), 0);
  EXPECT_EQ(out,
            "{\"formatTag\": 1, \"channels\": 2, \"rate\": 44100, \"bytesPerSecond\": 176400, "
            "\"blockAlign\": 4, \"bits\": 16, \"dataOffset\": 44, \"dataSize\": 1000}\n");
  const std::pair<std::string, std::string> refusals[] = {
      {Put(Riff(Chunk("fmt ", FmtBody(2, 44100, 32, kFormatFloat)) + Chunk("data", "abcd"))),
       kWaveNotPcm},
      {dir_.File("missing.wav"), "cannot open " + dir_.File("missing.wav") + ": "},
      {Put(Wav(1, 8000, 8, ""), "empty.wav"), "empty.wav: no sample data"},
  };
  for (const auto& [path, reason] : refusals) {
    out.clear();
    EXPECT_EQ(RunCli("wav info " + path + " 2>&1", out), 1) << path;
    EXPECT_THAT(out, HasSubstr(reason));
  }
}

}  // namespace
}  // namespace orvex
