// The record of sinks suspended for exclusive use: which lines a later start
// takes as left behind by a run that is gone.
#include "output/pulse/SuspendRecord.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "unit/TempDir.h"

namespace orvex::pulse {
namespace {

// The id of a process that has ended and been reaped.
long GonePid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

TEST(SuspendRecord, OnlySinksOfRunsThatAreGoneAreGivenBack) {
  TempDir dir;
  const long self = getpid();
  const unsigned long long start = SuspendRecord::StartTimeOf(self);
  ASSERT_GT(start, 0u);
  const std::string me = std::to_string(self) + " " + std::to_string(start);
  const std::string other = std::to_string(GonePid()) + " 1\tother\telsewhere\n";
  dir.Write("record", std::to_string(GonePid()) + " 1\tsrv\tkilled\n" +
                          // Our id with another start time: an earlier
                          // process that had the same id.
                          std::to_string(self) + " " + std::to_string(start + 1) +
                          "\tsrv\treused\n" + me + "\tsrv\tmine\n" +
                          // Left by a dead run, but a live one holds it now.
                          std::to_string(GonePid()) + " 1\tsrv\tmine\n" + other + "garbage\n");
  SuspendRecord record(dir.File("record"));
  EXPECT_EQ(record.TakeOrphans("srv"), (std::vector<std::string>{"killed", "reused"}));
  // Taken lines go; the live run's and the other server's stay.
  EXPECT_EQ(dir.Read("record"), me + "\tsrv\tmine\n" + other);
  EXPECT_EQ(record.TakeOrphans("srv"), std::vector<std::string>{});
  EXPECT_EQ(record.TakeOrphans("other"), std::vector<std::string>{"elsewhere"});
  EXPECT_EQ(dir.Read("record"), me + "\tsrv\tmine\n");
}

TEST(SuspendRecord, AReleasedSinkLeavesNoLine) {
  TempDir dir;
  SuspendRecord record(dir.File("sub/record"));
  record.Add("srv", "hw_a");
  record.Add("srv", "hw_a");
  record.Add("srv", "hw_b");
  const std::string me =
      std::to_string(getpid()) + " " + std::to_string(SuspendRecord::StartTimeOf(getpid()));
  EXPECT_EQ(dir.Read("sub/record"), me + "\tsrv\thw_a\n" + me + "\tsrv\thw_b\n");
  record.Remove("srv", "hw_a");
  EXPECT_EQ(dir.Read("sub/record"), me + "\tsrv\thw_b\n");
  record.Remove("srv", "hw_b");
  EXPECT_EQ(dir.Read("sub/record"), "");
}

}  // namespace
}  // namespace orvex::pulse
