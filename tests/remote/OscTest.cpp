// OSC remote control: the address vocabulary, and real UDP packets on the
// loopback interface, well-formed, malformed and fuzzed.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "engine/ConsoleCommandText.h"
#include "engine/ManualTimerService.h"
#include "remote/OscMapping.h"
#include "remote/OscServer.h"

namespace orvex::remote {
namespace {

std::string Map(const std::string& path, std::vector<OscArg> args = {}) {
  const OscRequest r = MapOscMessage(path, args);
  if (r.kind == OscRequest::Kind::kIgnored) return "ignored";
  if (r.kind == OscRequest::Kind::kRelease) return "release";
  if (r.kind == OscRequest::Kind::kState) return "state";
  std::string out;
  for (const ConsoleCommand& c : r.commands)
    out += (out.empty() ? "" : " ") + FormatConsoleCommand(c);
  return out;
}

TEST(OscMapping, AddressesBecomeConsoleCommands) {
  EXPECT_EQ(Map("/orvex/go"), "go");
  EXPECT_EQ(Map("/orvex/go", {1.0f}), "go");
  EXPECT_EQ(Map("/orvex/go", {0.0f}), "release");  // a surface's button release
  EXPECT_EQ(Map("/orvex/go", {int32_t{0}}), "release");
  EXPECT_EQ(Map("/orvex/stopall"), "stopall");
  EXPECT_EQ(Map("/orvex/ch/1/play"), "play:1");
  EXPECT_EQ(Map("/orvex/ch/6/pause"), "pause:6");
  EXPECT_EQ(Map("/orvex/ch/3/stop"), "stop:3");
  EXPECT_EQ(Map("/orvex/ch/3/fo", {int32_t{1}}), "fo:3");
  EXPECT_EQ(Map("/orvex/ch/2/next"), "next:2");
  EXPECT_EQ(Map("/orvex/fader/8", {7.5f}), "level:8=7.5");
  EXPECT_EQ(Map("/orvex/fader/1", {int32_t{10}}), "level:1=10");
  EXPECT_EQ(Map("/orvex/pan/4", {int32_t{-2500}}), "pan:4=-2500");
  EXPECT_EQ(Map("/orvex/pan/4", {9999.9}), "pan:4=9999");
  EXPECT_EQ(Map("/orvex/callup", {3.5}), "callup=3.5");
  EXPECT_EQ(Map("/orvex/callup"), "callup");
  EXPECT_EQ(Map("/orvex/autorun", {std::string("zero")}), "autorun=zero");
  EXPECT_EQ(Map("/orvex/state"), "state");
}

TEST(OscMapping, WhatIsOutOfRangeOrUnknownIsIgnored) {
  for (const auto& [path, args] : std::vector<std::pair<std::string, std::vector<OscArg>>>{
           {"/orvex/ch/0/play", {}},
           {"/orvex/ch/7/play", {}},
           {"/orvex/ch/1/rewind", {}},
           {"/orvex/ch/x/play", {}},
           {"/orvex/ch/1/play/extra", {}},
           {"/orvex/ch/1", {}},
           {"/orvex/fader/9", {5.0f}},
           {"/orvex/fader/1", {10.5f}},
           {"/orvex/fader/1", {-0.1f}},
           {"/orvex/fader/1", {std::numeric_limits<float>::quiet_NaN()}},
           {"/orvex/fader/1", {std::string("5")}},
           {"/orvex/fader/1", {}},
           {"/orvex/pan/1", {20000.0}},
           {"/orvex/pan/7", {int32_t{0}}},
           {"/orvex/callup", {-1.0}},
           {"/orvex/callup", {std::string("1")}},
           {"/orvex/autorun", {std::string("timing")}},
           {"/orvex/autorun", {}},
           {"/orvex/go", {std::string("now")}},
           {"/orvex/go", {1.0f, 1.0f}},
           {"/orvex/GO", {}},
           {"/orvex", {}},
           {"/orvex/", {}},
           {"/other/go", {}},
           {"", {}}}) {
    EXPECT_EQ(Map(path, args), "ignored") << path;
  }
}

// A UDP client on the loopback interface.
class Client {
 public:
  Client() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&any), sizeof any);
  }
  ~Client() { close(fd_); }
  void SendBytes(const void* data, size_t size, int port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd_, data, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  std::string Message(const std::string& path, const std::function<void(lo_message)>& add = {}) {
    lo_message m = lo_message_new();
    if (add) add(m);
    size_t size = 0;
    void* bytes = lo_message_serialise(m, path.c_str(), nullptr, &size);
    std::string out(static_cast<char*>(bytes), size);
    std::free(bytes);
    lo_message_free(m);
    return out;
  }
  void Send(const std::string& bytes, int port) { SendBytes(bytes.data(), bytes.size(), port); }
  // The next reply's address and string arguments, or "" after a wait.
  std::string Reply(int ms = 2000) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return "";
    char buffer[1024];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return "";
    int result = 0;
    lo_message m = lo_message_deserialise(buffer, static_cast<size_t>(n), &result);
    if (!m) return "?";
    std::string out = lo_get_path(buffer, n);
    for (int i = 0; i < lo_message_get_argc(m); ++i)
      out += " " + std::string(reinterpret_cast<const char*>(lo_message_get_argv(m)[i]));
    lo_message_free(m);
    return out;
  }

 private:
  int fd_ = -1;
};

struct Rig {
  Rig()
      : server(
            timers, poster,
            [this](const std::vector<ConsoleCommand>& commands) {
              for (const ConsoleCommand& c : commands) heard.push_back(FormatConsoleCommand(c));
            },
            [this] { return state; }) {
    std::string error;
    EXPECT_TRUE(server.Start("127.0.0.1", 0, error)) << error;
  }
  // Runs the UI thread's work until n packets have been taken in.
  void Take(uint64_t n) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    // A message is counted as received before it is judged, and judged
    // before its work is posted: wait for each step in turn.
    while ((server.Received() < n || server.Accepted() + server.Ignored() < server.Received()) &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (;;) {
      ran += static_cast<uint64_t>(poster.RunPending());
      if (ran >= server.Accepted() || std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  uint64_t ran = 0;
  ManualTimerService timers;
  ManualUiPoster poster;
  std::vector<std::string> heard;
  OscCueState state{"1", "2"};
  COscServer server;
};

TEST(OscServer, MessagesRunOnTheUiThreadAndTheSenderHearsTheCueState) {
  Rig r;
  Client c;
  const int port = r.server.Port();
  ASSERT_GT(port, 0);
  c.Send(c.Message("/orvex/go"), port);
  c.Send(c.Message("/orvex/go", [](lo_message m) { lo_message_add_float(m, 0); }), port);
  c.Send(c.Message("/orvex/fader/3", [](lo_message m) { lo_message_add_float(m, 2.5f); }), port);
  c.Send(c.Message("/orvex/autorun", [](lo_message m) { lo_message_add_string(m, "run"); }), port);
  r.Take(4);
  EXPECT_EQ(r.heard, (std::vector<std::string>{"go", "level:3=2.5", "autorun=run"}));
  EXPECT_EQ(r.server.Accepted(), 4u);
  EXPECT_EQ(c.Reply(), "/orvex/cue 1 2");
  EXPECT_EQ(c.Reply(), "/orvex/cue 1 2");
  EXPECT_EQ(c.Reply(), "/orvex/cue 1 2");
  EXPECT_EQ(c.Reply(100), "");  // the release asked nothing

  // A subscriber hears the state when it changes, once.
  c.Send(c.Message("/orvex/subscribe"), port);
  r.Take(5);
  EXPECT_EQ(c.Reply(), "/orvex/cue 1 2");
  r.state = {"2", "3"};
  r.timers.Advance(100);
  r.poster.RunPending();
  EXPECT_EQ(c.Reply(), "/orvex/cue 2 3");
  r.timers.Advance(100);
  r.poster.RunPending();
  EXPECT_EQ(c.Reply(100), "");
}

TEST(OscServer, MalformedAndFuzzedPacketsAreCountedAndNeverAct) {
  Rig r;
  Client c;
  const int port = r.server.Port();
  std::vector<std::string> packets = {
      "",
      "/orvex/go",                               // no padding, no type tag
      std::string("/orvex/go\0\0\0", 12),        // no type tag string
      std::string("/orvex/go\0\0\0,i\0\0", 16),  // an int announced, none there
      std::string("#bundle\0\0\0\0\0\0\0\0\1", 16),
      std::string(4000, '\xFF'),
      c.Message("/orvex/ch/1/play",
                [](lo_message m) {
                  lo_blob blob = lo_blob_new(4, "abcd");
                  lo_message_add_blob(m, blob);
                  lo_blob_free(blob);
                }),
      c.Message("/orvex/nothing"),
  };
  // Every cut and single-byte change of good messages, and random bytes.
  std::mt19937 random(19);
  const std::string good[] = {
      c.Message("/orvex/fader/2", [](lo_message m) { lo_message_add_float(m, 5); }),
      c.Message("/orvex/autorun", [](lo_message m) { lo_message_add_string(m, "zero"); })};
  for (const std::string& g : good) {
    for (size_t cut = 0; cut < g.size(); ++cut) packets.push_back(g.substr(0, cut));
    for (int i = 0; i < 400; ++i) {
      std::string m = g;
      m[random() % m.size()] = static_cast<char>(random());
      packets.push_back(m);
    }
  }
  for (int i = 0; i < 500; ++i) {
    std::string m(4 * (random() % 40), '\0');
    for (char& ch : m) ch = static_cast<char>(random());
    if (!m.empty() && i % 2) m[0] = '/';
    packets.push_back(m);
  }
  // In steps the receive buffer holds, so that none is lost before it is read.
  for (size_t i = 0; i < packets.size(); ++i) {
    c.Send(packets[i], port);
    if (i % 50 == 49) r.Take(i + 1);
  }
  c.Send(c.Message("/orvex/stopall"), port);
  r.Take(packets.size() + 1);
  EXPECT_EQ(r.server.Received(), packets.size() + 1);
  EXPECT_EQ(r.server.Accepted() + r.server.Ignored(), r.server.Received());
  EXPECT_GE(r.server.Ignored(), 8u + 2 * 20);
  ASSERT_FALSE(r.heard.empty());
  EXPECT_EQ(r.heard.back(), "stopall");  // still listening and acting
  // Whatever a mutation left acceptable is one of the vocabulary's commands.
  for (const std::string& h : r.heard) EXPECT_TRUE(ParseConsoleCommand(h).command) << h;
}

TEST(OscServer, ListensOnlyWhereItIsTold) {
  ManualTimerService timers;
  ManualUiPoster poster;
  COscServer a(timers, poster, {}, {});
  COscServer b(timers, poster, {}, {});
  std::string error;
  EXPECT_FALSE(a.Start("localhost.invalid", 0, error));
  EXPECT_FALSE(a.Start("127.0.0.1", 70000, error));
  ASSERT_TRUE(a.Start("127.0.0.1", 0, error)) << error;
  // The port is taken.
  EXPECT_FALSE(b.Start("127.0.0.1", a.Port(), error));
  EXPECT_FALSE(error.empty());
  a.Stop();
  EXPECT_EQ(a.Port(), 0);
}

}  // namespace
}  // namespace orvex::remote
