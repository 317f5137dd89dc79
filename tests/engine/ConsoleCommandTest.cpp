// Console commands: their text form, and the dispatcher that runs them.
#include <gtest/gtest.h>

#include "engine/ConsoleCommandText.h"
#include "engine/ConsoleRig.h"

namespace orvex {
namespace {

using Kind = ConsoleEvent::Kind;

TEST(ConsoleCommandText, EveryCommandReadsBackFromItsTextAndBadTextIsRefusedWithItsReason) {
  // The canonical text of each kind of command: parsing it and formatting
  // the command gives the same text, and parsing that the same command.
  const char* texts[] = {"go",
                         "stopall",
                         "play:1",
                         "pause:6",
                         "stop:2",
                         "fo:3",
                         "next:4",
                         "restart:5",
                         "fader:7=5.5",
                         "fader:1=0",
                         "level:2=3.25",
                         "master=10",
                         "cross=40",
                         "toggle:3=X,1",
                         "toggle:8=ON,0",
                         "route:1=M,G2,Y",
                         "route:7=M,X,ON",
                         "route:2=",
                         "masteron=0",
                         "pan:4=-2550",
                         "tone:3=mid,-3.5",
                         "tone:6=high,0.3",
                         "seek:1=88200",
                         "callup=2.5",
                         "callup",
                         "prev",
                         "nextq",
                         "qtext=12",
                         "autonext=1",
                         "autorun=run",
                         "autorun=stop",
                         "autorun=zero",
                         "autorun=timing",
                         "clock=00:01:30.5",
                         "knee=3,2.5",
                         "buffers:4=5,25",
                         "block=1",
                         "listcheck:4=2,0",
                         "bgm:list=D:\\bgm\\set=1.lst",
                         "bgm:play",
                         "bgm:stop",
                         "bgm:fo=2.5",
                         "bgm:level=7.5",
                         "bgm:select=3"};
  for (const char* text : texts) {
    const ParsedCommand parsed = ParseConsoleCommand(text);
    ASSERT_TRUE(parsed.command) << text << ": " << parsed.error;
    const std::string formatted = FormatConsoleCommand(*parsed.command);
    EXPECT_EQ(formatted, text);
    EXPECT_EQ(ParseConsoleCommand(formatted).command, parsed.command) << text;
  }

  // What the window sends formats to text that reads back as the same
  // command, also where the text is not the canonical one.
  const ConsoleCommand sent[] = {
      cmd::MoveFader{3, 37},   cmd::MoveMaster{100},
      cmd::MoveCross{0},       cmd::Tone{2, 0, -14.9f},
      cmd::Tone{1, 2, 0.1f},   cmd::FaderLevel{6, 7.0 / 3},
      cmd::CallUpCue{1.0 / 3}, cmd::Routing{6, {true, true, true, true, false, false}}};
  for (const ConsoleCommand& c : sent) {
    const std::string text = FormatConsoleCommand(c);
    EXPECT_EQ(ParseConsoleCommand(text).command, c) << text;
  }
  // A toggle a strip does not have is passed over in a whole routing.
  EXPECT_EQ(ParseConsoleCommand("route:1=ON,M").command,
            ConsoleCommand(cmd::Routing{1, {true, false, false, false, false, false}}));
  EXPECT_EQ(ParseConsoleCommand("fader:2=7.56").command, ConsoleCommand(cmd::MoveFader{2, 24}));

  const std::pair<const char*, const char*> refused[] = {
      {"go=1", "takes no value"},
      {"nextq:2", "takes no value"},
      {"play", "needs a channel 1 to 6"},
      {"play:7", "needs a channel 1 to 6"},
      {"stop:1=2", "needs a channel 1 to 6"},
      {"next:x", "needs a channel 1 to 6"},
      {"fader:9=5", "needs fader:N=L with N 1 to 8 and L 0 to 10"},
      {"fader:1=11", "needs fader:N=L with N 1 to 8 and L 0 to 10"},
      {"fader:1=nan", "needs fader:N=L with N 1 to 8 and L 0 to 10"},
      {"level:1=-1", "needs level:N=L with N 1 to 8 and L 0 to 10"},
      {"master=", "needs a level 0 to 10"},
      {"cross=40.5", "needs a position 0 to 100"},
      {"cross=101", "needs a position 0 to 100"},
      {"route:0=M", "needs route:N=LIST with N 1 to 8"},
      {"route:2=Z", "unknown routing toggle Z"},
      {"toggle:1=ON,1", "strip 1 has no ON"},
      {"toggle:7=G1,1", "strip 7 has no G1"},
      {"toggle:1=M", "needs toggle:N=NAME,0|1 with N 1 to 8"},
      {"masteron=yes", "needs 0 or 1"},
      {"pan:1=10001", "needs pan:N=P with N 1 to 6 and P -10000 to 10000"},
      {"tone:1=bass,2", "needs tone:N=low|mid|high,DB with N 1 to 6 and DB -15 to 15"},
      {"tone:1=low,16", "needs tone:N=low|mid|high,DB with N 1 to 6 and DB -15 to 15"},
      {"tone:7=low,1", "needs tone:N=low|mid|high,DB with N 1 to 6 and DB -15 to 15"},
      {"seek:1=-5", "needs seek:N=BYTES with N 1 to 6"},
      {"seek:1=", "needs seek:N=BYTES with N 1 to 6"},
      {"callup=x", "needs a Q number"},
      {"qtext", "needs qtext=TEXT"},
      {"autonext=2", "needs 0 or 1"},
      {"autorun=later", "needs run, stop, zero or timing"},
      {"clock", "needs clock=TEXT"},
      {"knee=3", "needs knee=POINT,LEVEL with both 0 to 10"},
      {"knee=3,11", "needs knee=POINT,LEVEL with both 0 to 10"},
      {"buffers:7=5,20",
       "needs buffers:N=FIRST,SECOND with N 1 to 6, FIRST 1 to 10, SECOND 1 to 30"},
      {"buffers:2=11,20",
       "needs buffers:N=FIRST,SECOND with N 1 to 6, FIRST 1 to 10, SECOND 1 to 30"},
      {"block=2", "needs 0 or 1"},
      {"listcheck:7=1,0", "needs listcheck:N=ITEM,0|1 with N 1 to 6 and ITEM from 0"},
      {"listcheck:1=-1,1", "needs listcheck:N=ITEM,0|1 with N 1 to 6 and ITEM from 0"},
      {"bgm:play=1", "takes no value"},
      {"bgm:list=", "needs bgm:list=FILE"},
      {"bgm:fo=-1", "needs bgm:fo=SECONDS with SECONDS 0 to 86400"},
      {"bgm:level=11", "needs bgm:level=L with L 0 to 10"},
      {"dance", "unknown action"},
      {"", "unknown action"}};
  for (const auto& [text, why] : refused) {
    const ParsedCommand parsed = ParseConsoleCommand(text);
    EXPECT_FALSE(parsed.command) << text;
    EXPECT_EQ(parsed.error, why) << text;
  }
}

// One operator session twice: as commands through the dispatcher and as
// the console operations called directly. Both must sound and end alike.
TEST(ConsoleDispatcher, ReachesTheStateTheDirectCallsReach) {
  const auto build = [](TestShow& show) {
    show.Dc("a.wav", 4000);
    show.Timecode("t.wav", 4000);
    show.Add(1, Cue(1, "a.wav", 8, 0, 1));
    show.Add(2, Cue(1, "t.wav", 10));
    show.Add(7, Cue(1, "UP", 6));
    show.Add(1, Cue(2, "a.wav", 6, 0, 1));
    show.Add(3, Cue(2, "a.wav", 5));
    show.Add(2, Timed(Cue(3, "STOP"), 2500));
    show.settings.autoNext = 1;
  };
  using Step = std::pair<uint32_t, ConsoleCommand>;
  const std::vector<Step> steps = {
      {0, cmd::Go{}},
      {100, cmd::MoveFader{1, 30}},
      {150, cmd::Channel{cmd::Transport::kFadeOut, 1}},
      {200, cmd::Toggle{2, Route::kG1, true}},
      {300, cmd::Routing{3, {false, true, false, true, false, false}}},
      {400, cmd::Toggle{7, Route::kM, true}},
      {500, cmd::Pan{1, -4000}},
      {600, cmd::Tone{1, 1, -6.0f}},
      {700, cmd::Seek{2, 48000 * 4}},
      {800, cmd::Channel{cmd::Transport::kPause, 2}},
      {900, cmd::Channel{cmd::Transport::kPlay, 2}},
      {1000, cmd::FaderLevel{2, 7.5}},
      {1100, cmd::MoveMaster{20}},
      {1200, cmd::MoveCross{30}},
      {1300, cmd::MasterOn{false}},
      {1350, cmd::MasterOn{true}},
      {1400, cmd::Knee{3, 2}},
      {1500, cmd::Go{}},
      {1700, cmd::NextCueText{"1"}},
      {1750, cmd::CallUp{}},
      {1800, cmd::NextCue{}},
      {1850, cmd::PreviousCue{}},
      {1900, cmd::CallUpCue{3}},
      {2000, cmd::ClockText{"00:00:02.0"}},
      {2000, cmd::AutoRun{cmd::AutoRunAction::kRun}},
      {2700, cmd::AutoRun{cmd::AutoRunAction::kStop}},
      {2800, cmd::Channel{cmd::Transport::kRestart, 3}},
      {2900, cmd::AutoNext{false}},
      {3000, cmd::Channel{cmd::Transport::kNext, 1}},
      {3100, cmd::Channel{cmd::Transport::kStop, 3}},
      {3200, cmd::StopAll{}},
  };
  const auto direct = [](CConsole& c, const ConsoleCommand& command) {
    if (std::holds_alternative<cmd::Go>(command)) c.ExecuteGo();
    if (auto* x = std::get_if<cmd::MoveFader>(&command)) c.MoveFader(x->fader, x->position);
    if (auto* x = std::get_if<cmd::Toggle>(&command)) {
      if (x->fader <= kChannels)
        c.SetChannelRoute(x->fader, x->route, x->on);
      else
        c.SetGroupRoute(x->fader - kChannels, x->route, x->on);
    }
    if (auto* x = std::get_if<cmd::Routing>(&command)) {
      c.SetChannelRoute(x->fader, Route::kM, false);  // on from the first-run settings
      c.SetChannelRoute(x->fader, Route::kG1, true);
      c.SetChannelRoute(x->fader, Route::kX, true);
    }
    if (auto* x = std::get_if<cmd::Pan>(&command)) c.SetPan(x->ch, x->pan);
    if (auto* x = std::get_if<cmd::Tone>(&command)) c.Player(x->ch).SetToneGain(x->band, x->gain);
    if (auto* x = std::get_if<cmd::Seek>(&command)) c.Player(x->ch).Seek(x->offset);
    if (auto* x = std::get_if<cmd::Channel>(&command)) {
      switch (x->action) {
        case cmd::Transport::kPlay:
          c.PlayChannel(x->ch);
          break;
        case cmd::Transport::kPause:
          c.PauseChannel(x->ch);
          break;
        case cmd::Transport::kStop:
          c.StopChannel(x->ch);
          break;
        case cmd::Transport::kFadeOut:
          c.FadeOutChannel(x->ch);
          break;
        case cmd::Transport::kNext:
          c.NextChannel(x->ch);
          break;
        case cmd::Transport::kRestart:
          c.StopChannel(x->ch);
          c.PlayChannel(x->ch);
          break;
      }
    }
    if (auto* x = std::get_if<cmd::FaderLevel>(&command)) c.SetFaderLevel(x->fader, x->level, true);
    if (auto* x = std::get_if<cmd::MoveMaster>(&command)) c.MoveMaster(x->position);
    if (auto* x = std::get_if<cmd::MoveCross>(&command)) c.MoveCross(x->position);
    if (auto* x = std::get_if<cmd::MasterOn>(&command)) c.SetMasterOn(x->on);
    if (auto* x = std::get_if<cmd::Knee>(&command)) c.SetKnee(x->point, x->level);
    if (auto* x = std::get_if<cmd::NextCueText>(&command)) c.SetNextCueText(x->text);
    if (std::holds_alternative<cmd::CallUp>(command)) c.CallUp();
    if (std::holds_alternative<cmd::NextCue>(command)) c.Next();
    if (std::holds_alternative<cmd::PreviousCue>(command)) c.Previous();
    if (auto* x = std::get_if<cmd::CallUpCue>(&command)) c.CallUpCue(x->q);
    if (auto* x = std::get_if<cmd::ClockText>(&command)) c.SetClockText(x->text);
    if (auto* x = std::get_if<cmd::AutoRun>(&command))
      x->action == cmd::AutoRunAction::kRun ? c.RunTimeline() : c.StopTimeline();
    if (auto* x = std::get_if<cmd::AutoNext>(&command)) c.SetAutoNext(x->on);
    if (std::holds_alternative<cmd::StopAll>(command)) c.StopAll();
  };

  TestShow a, b;
  build(a);
  build(b);
  ConsoleRig viaCommands(a), viaCalls(b);
  for (const auto& step : steps) {
    const ConsoleCommand& command = step.second;
    viaCommands.At(step.first, [&command](CConsole& c) { c.Execute(command); });
    viaCalls.At(step.first, [&](CConsole& c) { direct(c, command); });
  }
  viaCommands.RunTo(3500);
  viaCalls.RunTo(3500);

  // The session did happen: a GO from the auto-run clock, a pause, a fade.
  EXPECT_EQ(viaCommands.Events(Kind::kGo).size(), 3u);
  EXPECT_EQ(viaCommands.Events(Kind::kPause).size(), 1u);
  EXPECT_FALSE(viaCommands.Events(Kind::kFade).empty());
  const auto key = [](const ConsoleEvent& e) {
    return std::make_tuple(e.kind, e.timeMs, e.fader, e.q, e.from, e.to, e.seconds);
  };
  const std::vector<ConsoleEvent> x = viaCommands.session.Events(), y = viaCalls.session.Events();
  ASSERT_EQ(x.size(), y.size());
  for (size_t i = 0; i < x.size(); ++i) EXPECT_EQ(key(x[i]), key(y[i])) << "event " << i;
  for (int out = 0; out < kOutputCount; ++out)
    EXPECT_TRUE(viaCommands.session.Out(out) == viaCalls.session.Out(out)) << "output " << out;
  CConsole& c = viaCommands.C();
  CConsole& d = viaCalls.C();
  EXPECT_EQ(viaCommands.Records(), viaCalls.Records());
  EXPECT_EQ(c.NextCueText(), d.NextCueText());
  EXPECT_EQ(c.Clock(), d.Clock());
  EXPECT_EQ(c.AutoNext(), d.AutoNext());
  for (int f = 1; f <= kFaders; ++f) EXPECT_EQ(c.FaderValue(f), d.FaderValue(f)) << f;
  for (int ch = 1; ch <= kChannels; ++ch) {
    const RouteState r = c.ChannelRoute(ch), s = d.ChannelRoute(ch);
    EXPECT_EQ(std::tie(r.m, r.g1, r.g2, r.x, r.y), std::tie(s.m, s.g1, s.g2, s.x, s.y)) << ch;
    EXPECT_EQ(c.Pan(ch), d.Pan(ch));
  }
  EXPECT_EQ(c.GroupRoute(1).m, d.GroupRoute(1).m);
  EXPECT_EQ(c.MasterValue(), d.MasterValue());
  EXPECT_EQ(c.CrossValue(), d.CrossValue());
  // The tone went to the channel and into the settings it is saved from.
  EXPECT_EQ(c.ToneGain(1, 1), -6.0f);
  EXPECT_EQ(a.settings.tone[1][1], -6.0f);
}

}  // namespace
}  // namespace orvex
