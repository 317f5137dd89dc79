// The ".cnf" file: files as the home platform writes them, odd channel
// tables, and files that are short or claim more than they hold.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "midi/MidiSettingsFile.h"
#include "unit/TempDir.h"

namespace orvex::midi {
namespace {

std::string U32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
  return s;
}
std::string U16(uint16_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8)};
}

// A capability record: ids, driver version, the name in 32 UTF-16 units,
// support flags.
std::string Caps(uint16_t mid, uint16_t pid, const std::u16string& name, uint32_t version = 0x0100,
                 uint32_t support = 0) {
  std::string s = U16(mid) + U16(pid) + U32(version);
  for (size_t i = 0; i < 32; ++i) s += U16(i < name.size() ? name[i] : 0);
  return s + U32(support);
}

std::string Header(uint32_t n, uint32_t l) {
  return U32(1) + U32(n) + U32(16) + U32(l);
}

std::string Table(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

TEST(MidiSettingsFile, AHomePlatformFileLoadsAndIsWrittenBackByteForByte) {
  TempDir dir;
  // A USB keyboard with its ids, a name using the whole record (31 units and
  // its zero), and a Japanese name, as the system reports them.
  const std::string bytes =
      Header(3, 7) + Caps(0x0582, 0x012A, u"UM-ONE") + Table({1, 1}) +
      Table({0, 1, 2, 3, 4, 5, 6}) + Caps(1, 2, u"ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", 0x0A00, 1) +
      Table({0, 2}) + Table({9, -1, 15, 3, 3, -1, 0}) + Caps(0, 0, u"ミディ入力") + Table({1, 0}) +
      Table({-1, -1, -1, -1, -1, -1, -1});
  dir.Write("show.cnf", bytes);

  CMidiDeviceList devices;
  ASSERT_EQ(LoadMidiSettings(dir.File("show.cnf"), devices), MidiFileStatus::kOk);
  ASSERT_EQ(devices.size(), 3u);
  const CMidiDevice& a = *devices[0];
  EXPECT_EQ(a.m_caps.manufacturerId, 0x0582);
  EXPECT_EQ(a.m_caps.productId, 0x012A);
  EXPECT_EQ(a.PortName(), "UM-ONE");
  EXPECT_EQ(a.m_enabled, 1);
  EXPECT_EQ(a.m_mode, 1);
  EXPECT_EQ(a.m_present + a.m_opened + a.m_started + a.m_deviceId, 0u);
  EXPECT_EQ(devices[1]->PortName(), "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  EXPECT_EQ(devices[1]->m_mode, 2);
  EXPECT_EQ(devices[1]->m_channels, (std::array<int, 7>{9, -1, 15, 3, 3, -1, 0}));
  EXPECT_EQ(devices[2]->PortName(), "ミディ入力");
  EXPECT_EQ(devices[2]->m_mode, 0);

  ASSERT_TRUE(SaveMidiSettings(dir.File("again.cnf"), devices));
  EXPECT_EQ(dir.Read("again.cnf"), bytes);
  // The first-run list is an empty file of 16 bytes.
  ASSERT_TRUE(SaveMidiSettings(dir.File("empty.cnf"), {}));
  EXPECT_EQ(dir.Read("empty.cnf"), Header(0, 7));
}

TEST(MidiSettingsFile, ChannelTablesOfOtherLengthsAndUnassignedBytes) {
  CMidiDeviceList devices;
  // L = 4: entries 4..6 are unassigned; 0xFF and 0x80 sign-extend.
  std::string bytes = Header(2, 4) + Caps(0, 0, u"A") + Table({1, 1}) +
                      Table({0xFF, 0x80, 2, 0x7F}) + Caps(0, 0, u"B") + Table({0, 1}) +
                      Table({5, 5, 5, 5});
  ASSERT_EQ(ParseMidiSettings(bytes, devices), MidiFileStatus::kOk);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0]->m_channels, (std::array<int, 7>{-1, -128, 2, 127, -1, -1, -1}));
  EXPECT_EQ(devices[1]->PortName(), "B");
  EXPECT_EQ(devices[1]->m_channels, (std::array<int, 7>{5, 5, 5, 5, -1, -1, -1}));
  // Written back, the table is 7 long again.
  EXPECT_EQ(MidiSettingsBytes(devices).size(), 16u + 2 * (76 + 2 + 7));

  // L = 10: bytes past 7 are skipped and the next record follows them.
  bytes = Header(2, 10) + Caps(0, 0, u"C") + Table({1, 1}) +
          Table({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}) + Caps(0, 0, u"D") + Table({1, 1}) +
          Table({0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  ASSERT_EQ(ParseMidiSettings(bytes, devices), MidiFileStatus::kOk);
  EXPECT_EQ(devices[0]->m_channels, (std::array<int, 7>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(devices[1]->PortName(), "D");

  // L = 0 and a name with no terminating zero at all.
  std::string full = Caps(0, 0, u"");
  for (size_t i = 0; i < 32; ++i) full.replace(8 + 2 * i, 2, U16(u'x'));
  ASSERT_EQ(ParseMidiSettings(Header(1, 0) + full + Table({1, 1}), devices), MidiFileStatus::kOk);
  EXPECT_EQ(devices[0]->PortName(), std::string(32, 'x'));
  EXPECT_EQ(devices[0]->m_channels, (std::array<int, 7>{-1, -1, -1, -1, -1, -1, -1}));
}

TEST(MidiSettingsFile, ShortOrBoastfulFilesLeaveTheListAsItWas) {
  TempDir dir;
  CMidiDeviceList devices;
  ASSERT_EQ(ParseMidiSettings(
                Header(1, 7) + Caps(0, 0, u"kept") + Table({1, 1}) + Table({0, 1, 2, 3, 4, 5, 6}),
                devices),
            MidiFileStatus::kOk);
  const std::string good = Header(2, 7) + Caps(0, 0, u"A") + Table({1, 1}) +
                           Table({0, 1, 2, 3, 4, 5, 6}) + Caps(0, 0, u"B") + Table({1, 1}) +
                           Table({0, 1, 2, 3, 4, 5, 6});
  // Every cut of a good file, the header included.
  for (size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_EQ(ParseMidiSettings(good.substr(0, cut), devices), MidiFileStatus::kDamaged) << cut;
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->PortName(), "kept");
  }
  // Counts no file could hold are refused before anything is allocated.
  for (const std::string& header :
       {Header(0xFFFFFFFF, 7), Header(0x7FFFFFFF, 7), Header(2, 0xFFFFFFFF),
        Header(kMaxMidiRecords + 1, 7), Header(1, kMaxChannelTable + 1)}) {
    EXPECT_EQ(ParseMidiSettings(header + good.substr(16), devices), MidiFileStatus::kDamaged);
    EXPECT_EQ(devices.size(), 1u);
  }
  // A file of 0xFF bytes claims 4 billion records.
  EXPECT_EQ(ParseMidiSettings(std::string(4096, '\xFF'), devices), MidiFileStatus::kDamaged);
  // Extra bytes after the records are left alone.
  EXPECT_EQ(ParseMidiSettings(good + "tail", devices), MidiFileStatus::kOk);
  EXPECT_EQ(devices.size(), 2u);

  // No file, or a folder: nothing changes.
  EXPECT_EQ(LoadMidiSettings(dir.File("missing.cnf"), devices), MidiFileStatus::kUnreadable);
  EXPECT_EQ(LoadMidiSettings(dir.Path().string(), devices), MidiFileStatus::kUnreadable);
  EXPECT_EQ(devices.size(), 2u);
}

TEST(MidiSettingsFile, AFailedSaveKeepsTheOldFile) {
  TempDir dir;
  CMidiDeviceList devices;
  devices.push_back(std::make_unique<CMidiDevice>());
  ASSERT_TRUE(SaveMidiSettings(dir.File("a.cnf"), devices));
  const std::string before = dir.Read("a.cnf");
  devices.push_back(std::make_unique<CMidiDevice>());
  // A folder that refuses new files: the temporary file cannot be made.
  if (geteuid() != 0) {
    chmod(dir.Path().c_str(), 0500);
    EXPECT_FALSE(SaveMidiSettings(dir.File("a.cnf"), devices));
    chmod(dir.Path().c_str(), 0700);
    EXPECT_EQ(dir.Read("a.cnf"), before);
  }
  EXPECT_FALSE(SaveMidiSettings(dir.File("no/such/folder/a.cnf"), devices));
}

}  // namespace
}  // namespace orvex::midi
