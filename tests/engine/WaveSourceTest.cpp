#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
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

// --- Refusals ----------------------------------------------------------------

struct Refusal {
  const char* name;
  std::string bytes;
  const char* message;
  WaveOpenError error;
};

TEST_F(WaveSourceTest, RefusedFilesReportTheirReasonAndLeaveNothingOpen) {
  const std::string fmt = Chunk("fmt ", FmtBody(2, 44100, 16));
  const std::string data = Chunk("data", Samples(8));
  const std::vector<Refusal> cases = {
      {"text file", "just some text, not audio", kWaveNotRiffWave, WaveOpenError::kNotRiffWave},
      {"RIFF of another form", "RIFF" + Le32(4 + fmt.size()) + "AVI " + fmt, kWaveNotRiffWave,
       WaveOpenError::kNotRiffWave},
      {"truncated RIFF header", std::string("RIFF\x10\0\0\0WA", 10), kWaveNotRiffWave,
       WaveOpenError::kNotRiffWave},
      {"no fmt chunk", Riff(data), kWaveNoFormat, WaveOpenError::kNoFormat},
      // The fmt chunk lies beyond the RIFF size, even though the file has it.
      {"fmt outside the RIFF form", Riff(Chunk("junk", "xx"), 10) + fmt + data, kWaveNoFormat,
       WaveOpenError::kNoFormat},
      {"fmt cut off by end of file", Riff(Chunk("fmt ", FmtBody(2, 44100, 16)).substr(0, 18)),
       kWaveFormatReadFailed, WaveOpenError::kFormatReadFailed},
      {"fmt size beyond end of file", Riff(Chunk("fmt ", FmtBody(2, 44100, 16), 0xFFFFFFF0u)),
       kWaveFormatReadFailed, WaveOpenError::kFormatReadFailed},
      {"fmt without bits field", Riff(Chunk("fmt ", FmtBody(2, 44100, 16).substr(0, 14)) + data),
       kWaveFormatReadFailed, WaveOpenError::kFormatReadFailed},
      {"float samples", Riff(Chunk("fmt ", FmtBody(2, 44100, 32, kFormatFloat)) + data),
       kWaveNotPcm, WaveOpenError::kNotPcm},
      {"extensible format",
       Riff(Chunk("fmt ",
                  FmtBody(2, 44100, 24, kFormatExtensible) + Le16(22) + std::string(22, '\x01')) +
            data),
       kWaveNotPcm, WaveOpenError::kNotPcm},
      {"data before fmt", Riff(data + fmt), kWaveNoData, WaveOpenError::kNoData},
      {"no data chunk", Riff(fmt + Chunk("LIST", "abc")), kWaveNoData, WaveOpenError::kNoData},
      {"chunk size past end hides data", Riff(fmt + Chunk("junk", "ab", 0xFFFFFFF0u) + data),
       kWaveNoData, WaveOpenError::kNoData},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    messages_.messages.clear();
    CWaveSource source(0);
    EXPECT_FALSE(source.OpenWaveFile(Put(c.bytes)));
    EXPECT_THAT(messages_.messages, ElementsAre(c.message));
    EXPECT_EQ(source.LastOpenError(), c.error);
    EXPECT_FALSE(source.IsOpen());
    EXPECT_EQ(source.Format(), WaveFormat{});
    uint8_t buf[16];
    EXPECT_EQ(source.ReadBlock(buf, sizeof buf), 0u);
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

// --- Layouts that must be accepted -------------------------------------------

TEST_F(WaveSourceTest, SixteenByteFormatChunk) {
  CWaveSource source(0);
  ASSERT_TRUE(source.OpenWaveFile(Put(Wav(2, 44100, 16, Samples(400)))));
  EXPECT_EQ(source.LastOpenError(), WaveOpenError::kNone);
  EXPECT_EQ(source.FormatChunkSize(), 16u);
  EXPECT_EQ(source.Format().extraSize, 0);
  EXPECT_EQ(source.DataOffset(), 44u);
  EXPECT_EQ(source.DataSize(), 400u);
  EXPECT_EQ(source.Remaining(), 400u);
  EXPECT_THAT(messages_.messages, IsEmpty());
}

TEST_F(WaveSourceTest, LongerAndOddFormatChunksAndOddChunksBeforeDataAreSkipped) {
  const std::string samples = Samples(301);
  struct Layout {
    const char* name;
    std::string bytes;
    uint32_t fmtSize;
    uint16_t extraSize;
    uint64_t dataOffset;
  };
  const std::string fmt16 = Chunk("fmt ", FmtBody(1, 22050, 8));
  const std::vector<Layout> layouts = {
      {"18-byte fmt", Riff(Chunk("fmt ", FmtBody(1, 22050, 8) + Le16(0)) + Chunk("data", samples)),
       18, 0, 12 + 8 + 18 + 8},
      {"fmt with extra bytes",
       Riff(Chunk("fmt ", FmtBody(1, 22050, 8) + Le16(4) + "wxyz") + Chunk("data", samples)), 22, 4,
       12 + 8 + 22 + 8},
      {"odd fmt size",
       Riff(Chunk("fmt ", FmtBody(1, 22050, 8) + Le16(1) + "q") + Chunk("data", samples)), 19, 1,
       12 + 8 + 20 + 8},
      {"odd chunks between fmt and data",
       Riff(fmt16 + Chunk("LIST", "abc") + Chunk("junk", "12345") + Chunk("data", samples)), 16, 0,
       12 + 24 + 12 + 14 + 8},
      {"chunks before fmt and a leading top-level chunk",
       Chunk("ID3 ", "tag") + Riff(Chunk("bext", "b") + fmt16 + Chunk("data", samples)), 16, 0,
       12 + 12 + 10 + 24 + 8},
      {"RIFF size left at its maximum", Riff(fmt16 + Chunk("data", samples), 0xFFFFFFFFu), 16, 0,
       44},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    CWaveSource source(0);
    ASSERT_TRUE(source.OpenWaveFile(Put(l.bytes)));
    EXPECT_EQ(source.FormatChunkSize(), l.fmtSize);
    EXPECT_EQ(source.Format().extraSize, l.extraSize);
    EXPECT_EQ(source.Format().bitsPerSample, 8);
    EXPECT_EQ(source.DataOffset(), l.dataOffset);
    EXPECT_EQ(source.DataSize(), 301u);
    std::string got(512, '\0');
    ASSERT_EQ(source.ReadFirstBlock(reinterpret_cast<uint8_t*>(got.data()), 512), 301u);
    EXPECT_EQ(got.substr(0, 301), samples);
  }
  EXPECT_THAT(messages_.messages, IsEmpty());
}

TEST_F(WaveSourceTest, PathsLongerThan127CharactersOpen) {
  const std::string name = std::string(140, 'p') + "/" + std::string(40, 'q') + ".wav";
  const std::string path = Put(Wav(1, 8000, 16, Samples(20)), name);
  ASSERT_GT(path.size(), 180u);
  CWaveSource source(0);
  EXPECT_TRUE(source.OpenWaveFile(path));
  EXPECT_EQ(source.FilePath(), path);
}

struct FormatCase {
  uint16_t channels;
  uint16_t bits;
};

class WaveFormatParse : public WaveSourceTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(WaveFormatParse, FieldsDerivedValuesAndPlayerTable) {
  const auto [channels, bits] = GetParam();
  const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  const int player = channels * 2 + bits / 16;  // spread over the slots 2..6
  CWaveSource source(player);
  ASSERT_TRUE(source.OpenWaveFile(Put(Wav(channels, 48000, bits, Samples(align * 10u)))));
  const WaveFormat& f = source.Format();
  EXPECT_EQ(f.formatTag, kFormatPcm);
  EXPECT_EQ(f.channels, channels);
  EXPECT_EQ(f.samplesPerSec, 48000u);
  EXPECT_EQ(f.avgBytesPerSec, 48000u * align);
  EXPECT_EQ(f.blockAlign, align);
  EXPECT_EQ(f.bitsPerSample, bits);
  EXPECT_EQ(source.BytesPerSecond(), 48000u * align);
  EXPECT_EQ(source.TickBytes(), 4800u * align);
  EXPECT_EQ(source.Channels(), channels);
  EXPECT_EQ(source.BlockAlign(), align);
  EXPECT_EQ(PlayerFormat(player), f);

  // A refused file leaves the slot with the last good format.
  EXPECT_FALSE(source.OpenWaveFile(Put("nope", "bad.wav")));
  EXPECT_EQ(PlayerFormat(player).bitsPerSample, bits);
}

INSTANTIATE_TEST_SUITE_P(PcmWidths, WaveFormatParse,
                         ::testing::Values(FormatCase{1, 8}, FormatCase{2, 8}, FormatCase{1, 16},
                                           FormatCase{2, 16}, FormatCase{1, 24}, FormatCase{2, 24},
                                           FormatCase{1, 32}, FormatCase{2, 32}),
                         [](const auto& info) {
                           return std::to_string(info.param.bits) + "bit" +
                                  (info.param.channels == 1 ? "Mono" : "Stereo");
                         });

TEST(PlayerFormatTable, OutOfRangeIndexesReadEmptyAndWriteNothing) {
  EXPECT_EQ(PlayerFormat(-1), WaveFormat{});
  EXPECT_EQ(PlayerFormat(kWavePlayerCount), WaveFormat{});
  TempDir dir;
  dir.Write("a.wav", Wav(2, 44100, 16, Samples(16)));
  CWaveSource source(kWavePlayerCount);
  EXPECT_TRUE(source.OpenWaveFile(dir.File("a.wav")));
  EXPECT_EQ(PlayerFormat(kWavePlayerCount), WaveFormat{});
}

// --- Reading -------------------------------------------------------------------

// Reads into a zeroed buffer, noting how far it had filled at every pause.
struct PiecedRead {
  uint32_t total = 0;
  std::vector<size_t> fillPoints;
};

PiecedRead ReadInPieces(CWaveSource& source, std::vector<uint8_t>& buf) {
  std::fill(buf.begin(), buf.end(), 0);
  PiecedRead r;
  r.total = source.ReadBlock(buf.data(), static_cast<uint32_t>(buf.size()), [&] {
    r.fillPoints.push_back(static_cast<size_t>(std::find(buf.begin(), buf.end(), 0) - buf.begin()));
  });
  return r;
}

TEST_F(WaveSourceTest, ReadBlockWorksIn400MsPieces) {
  CWaveSource source(0);
  const std::string samples = Samples(10 * kCdRate);
  ASSERT_TRUE(source.OpenWaveFile(Put(Wav(2, 44100, 16, samples))));
  ASSERT_EQ(source.TickBytes(), 17640u);

  // One second: two full pieces, then the 200 ms that still fit.
  std::vector<uint8_t> second(kCdRate);
  PiecedRead r = ReadInPieces(source, second);
  EXPECT_EQ(r.total, kCdRate);
  EXPECT_THAT(r.fillPoints, ElementsAre(70560u, 141120u));
  EXPECT_EQ(source.Remaining(), 9 * kCdRate);
  EXPECT_EQ(source.LastReadCount(), kCdRate);
  EXPECT_TRUE(std::equal(second.begin(), second.end(), samples.begin(),
                         [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }));

  // Ten seconds into a ten-second buffer: 25 pieces, a pause between each.
  ASSERT_TRUE(source.SeekData(0));
  std::vector<uint8_t> all(10 * kCdRate);
  r = ReadInPieces(source, all);
  EXPECT_EQ(r.total, 10 * kCdRate);
  ASSERT_EQ(r.fillPoints.size(), 24u);
  for (size_t i = 0; i < r.fillPoints.size(); ++i) EXPECT_EQ(r.fillPoints[i], (i + 1) * 70560);
  EXPECT_EQ(source.Remaining(), 0u);
  EXPECT_EQ(source.ReadBlock(all.data(), 16), 0u);
}

TEST_F(WaveSourceTest, ReadBlockStopsAtTheEndOfTheData) {
  // 0.5 s of data: a full piece then the last 100 ms, and a trailing chunk
  // after the data that must not be read as samples.
  const std::string samples = Samples(kCdRate / 2);
  CWaveSource source(0);
  ASSERT_TRUE(source.OpenWaveFile(Put(Riff(Chunk("fmt ", FmtBody(2, 44100, 16)) +
                                           Chunk("data", samples) + Chunk("LIST", "trailing")))));
  std::vector<uint8_t> buf(2 * kCdRate);
  PiecedRead r = ReadInPieces(source, buf);
  EXPECT_EQ(r.total, kCdRate / 2);
  EXPECT_EQ(buf[kCdRate / 2], 0);
  EXPECT_EQ(source.Remaining(), 0u);
  EXPECT_EQ(source.ReadBlock(buf.data(), 16), 0u);
  uint8_t* none = nullptr;
  EXPECT_TRUE(source.SeekData(0));
  EXPECT_EQ(source.ReadBlock(none, 16), 0u);
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
  EXPECT_THAT(messages_.messages, IsEmpty());

  ASSERT_TRUE(source.SeekData(100));
  EXPECT_EQ(source.ReadFirstBlock(buf.data(), 50), 50u);
  EXPECT_EQ(buf[0], static_cast<uint8_t>(samples[100]));
  EXPECT_EQ(source.Remaining(), 850u);
  EXPECT_EQ(source.LastReadCount(), 50u);
  EXPECT_EQ(source.ReadFirstBlock(buf.data(), 4096), 150u);
  EXPECT_THAT(messages_.messages, IsEmpty());
}

TEST_F(WaveSourceTest, FirstBlockThatReadsNothingReportsAndFillsSilence) {
  // The data chunk header ends the file.
  CWaveSource source(0);
  ASSERT_TRUE(source.OpenWaveFile(
      Put(Riff(Chunk("fmt ", FmtBody(2, 44100, 16)) + Chunk("data", "", 4000)))));
  std::vector<uint8_t> buf(64, 0xAB);
  EXPECT_EQ(source.ReadFirstBlock(buf.data(), 48), 0u);
  EXPECT_THAT(messages_.messages, ElementsAre(kWaveReadFailed));
  EXPECT_TRUE(std::all_of(buf.begin(), buf.begin() + 48, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(buf[48], 0xAB);
  EXPECT_EQ(source.LastReadCount(), 0u);
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
  EXPECT_EQ(source.ReadFirstBlock(buf, sizeof buf), 0u);
  EXPECT_THAT(messages_.messages, IsEmpty());

  source.CloseWaveFile();
  EXPECT_FALSE(source.SeekData(0));
  EXPECT_EQ(source.Format(), WaveFormat{});
}

// --- orvex-cli wav info ----------------------------------------------------------

struct CliRun {
  int exitCode;
  std::string output;
};

CliRun RunCli(const std::string& args) {
  const std::string command = std::string(ORVEX_BIN_DIR "/orvex-cli ") + args;
  CliRun run{-1, ""};
  std::FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return run;
  char chunk[256];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0) run.output.append(chunk, n);
  const int status = ::pclose(p);
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

TEST_F(WaveSourceTest, CliPrintsTheFormatOrTheReason) {
  const std::string good = Put(Wav(2, 44100, 16, Samples(1000)), "good.wav");
  CliRun run = RunCli("wav info " + good + " 2>/dev/null");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output,
            "{\"formatTag\": 1, \"channels\": 2, \"rate\": 44100, \"bytesPerSecond\": 176400, "
            "\"blockAlign\": 4, \"bits\": 16, \"dataOffset\": 44, \"dataSize\": 1000}\n");

  const std::string flt =
      Put(Riff(Chunk("fmt ", FmtBody(2, 44100, 32, kFormatFloat)) + Chunk("data", "abcd")),
          "float.wav");
  run = RunCli("wav info " + flt + " 2>&1");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.output, HasSubstr(kWaveNotPcm));

  run = RunCli("wav info " + dir_.File("missing.wav") + " 2>&1");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.output, HasSubstr("cannot open " + dir_.File("missing.wav") + ": "));

  run = RunCli("wav info " + Put(Wav(1, 8000, 8, ""), "empty.wav") + " 2>&1");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.output, HasSubstr("empty.wav: no sample data"));
}

}  // namespace
}  // namespace orvex
