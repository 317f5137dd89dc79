// A channel player through the one mixer on each real back-end: a private
// JACK server of the dummy driver, the exclusive ALSA writer on a file
// device, and a stream on a private sound server's null sink. Each plays the
// same scenes (PlayerOnBackend.h) and is recorded on the far side: by a JACK
// client of the test, by the file the ALSA device wrote, and by the sink's
// monitor.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "JackServer.h"
#include "PlayerOnBackend.h"
#include "integration/ServerRig.h"
#include "output/alsa/WaveExWASAPI.h"
#include "output/jack/AsioKernel.h"
#include "output/pulse/PulseSinkDevice.h"
#include "unit/MessageRecorder.h"

namespace orvex::test {
namespace {

using namespace std::chrono_literals;

// JACK at 48 kHz, 256-frame periods; Orvex's left port recorded by a client
// of the test. The server's xrun count tells a missed period.
class JackBackend final : public PlayerBackend {
 public:
  JackBackend() : server_(PrivateServerName("player")) {
    if (server_.Ready()) setenv("JACK_DEFAULT_SERVER", server_.Name().c_str(), 1);
  }
  ~JackBackend() override { unsetenv("JACK_DEFAULT_SERVER"); }
  std::string Started() const override { return server_.Ready() ? "" : "jackd did not start"; }
  uint32_t Rate() const override { return 48000; }
  std::string Open(mixer::VoiceEngine& engine) override {
    host_ = std::make_unique<CAsioKernel>();
    host_->SetDriverList(CAsioKernel::ListDrivers({}));
    int factor = 0;
    if (!host_->OpenDriver(factor, 48000, "JACK") || !host_->Start()) return "JACK did not open";
    if (host_->DeviceRate() != Rate()) return "JACK runs at " + std::to_string(host_->DeviceRate());
    if (!engine.CreateMasteringVoice(host_->EngineDevice())) return "no mastering voice";
    recorder_ = std::make_unique<JackRecorder>(server_.Name(), Rate() * 10);
    if (!recorder_->Ok() || !recorder_->Connect("Orvex:out_1", 0)) return "cannot record";
    xruns_ = host_->XrunCount();
    return "";
  }
  std::vector<float> Close(mixer::VoiceEngine& engine) override {
    std::vector<float> heard;
    if (recorder_) {
      std::this_thread::sleep_for(50ms);
      const size_t n = recorder_->Frames();
      heard.assign(recorder_->Left().begin(), recorder_->Left().begin() + long(n));
    }
    lost_ = host_ && host_->XrunCount() != xruns_;
    recorder_.reset();
    engine.DestroyMasteringVoice();
    if (host_) host_->CloseDriver();
    host_.reset();
    return heard;
  }
  bool LostSound() const override { return lost_; }

 private:
  JackServer server_;
  std::unique_ptr<CAsioKernel> host_;
  std::unique_ptr<JackRecorder> recorder_;
  uint64_t xruns_ = 0;
  bool lost_ = false;
};

// The exclusive writer in its stored format (16-bit stereo at 44100 Hz) on
// an ALSA file device over a null device: the file holds exactly what the
// writer thread sent, and nothing on the way can lose sound.
class ExclusiveBackend final : public PlayerBackend {
 public:
  explicit ExclusiveBackend(const TempDir& dir) : dir_(dir) {
    dir_.Write("asound.conf",
               "pcm.orvex_file {\n  type file\n  slave.pcm { type null }\n  file \"" +
                   dir_.File("out.raw") + "\"\n  format \"raw\"\n}\n");
    setenv("ALSA_CONFIG_PATH", dir_.File("asound.conf").c_str(), 1);
  }
  ~ExclusiveBackend() override { unsetenv("ALSA_CONFIG_PATH"); }
  uint32_t Rate() const override { return 44100; }
  std::string Open(mixer::VoiceEngine& engine) override {
    std::remove(dir_.File("out.raw").c_str());
    format_ = CWaveExWASAPI::FallbackFormat();
    bufferMs_ = 30;
    writer_ = std::make_unique<CWaveExWASAPI>();
    writer_->SetDevice(&endpoint_, 0);
    writer_->SetFormat(&format_, &bufferMs_);
    if (!writer_->OpenDevice("orvex_file") || !writer_->Start()) return "the device did not open";
    if (!engine.CreateMasteringVoice(writer_->EngineDevice())) return "no mastering voice";
    return "";
  }
  std::vector<float> Close(mixer::VoiceEngine& engine) override {
    engine.DestroyMasteringVoice();
    if (writer_) writer_->Close();
    writer_.reset();
    const std::string raw = dir_.Read("out.raw");
    std::vector<int16_t> frames(raw.size() / 4 * 2);
    std::memcpy(frames.data(), raw.data(), frames.size() * 2);
    std::vector<float> left(frames.size() / 2);
    for (size_t f = 0; f < left.size(); ++f) left[f] = frames[2 * f] / 32768.0f;
    return left;
  }

 private:
  const TempDir& dir_;
  WasapiEndpoint endpoint_{nullptr, "test_sink", "Test", -1, -1};
  WaveFormat format_;
  int32_t bufferMs_ = 30;
  std::unique_ptr<CWaveExWASAPI> writer_;
};

// The engine's stream on a float null sink of a private sound server at
// 48 kHz, recorded from the sink's monitor. The server logs at debug level,
// which names every underrun of a stream.
class PulseBackend final : public PlayerBackend {
 public:
  PulseBackend() {
    if (!server_.ready || !program_.Connect("Orvex")) return;
    for (const pulse::SinkInfo& s : program_.ListSinks())
      if (s.name == kSink) sink_ = s;
  }
  std::string Started() const override {
    if (!server_.ready) return "the sound server did not start: " + server_.dir.Read("server.err");
    return sink_.name == kSink ? "" : "no sink";
  }
  uint32_t Rate() const override { return 48000; }
  std::string Open(mixer::VoiceEngine& engine) override {
    recorder_ = std::make_unique<MonitorRecorder>(kSink, Rate());
    if (!recorder_->ready) return "cannot record the monitor";
    // The monitor runs once its first frames arrive.
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (recorder_->Samples().empty() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(10ms);
    underruns_ = Underruns();
    device_ = std::make_unique<pulse::PulseSinkDevice>(program_, sink_);
    if (!engine.CreateMasteringVoice(*device_)) return "the sink stream did not open";
    return "";
  }
  std::vector<float> Close(mixer::VoiceEngine& engine) override {
    // The stream's latency and the monitor's fragments are still on the way.
    std::this_thread::sleep_for(200ms);
    lost_ = Underruns() != underruns_;
    engine.DestroyMasteringVoice();
    device_.reset();
    std::vector<float> left;
    if (recorder_) {
      recorder_->Stop();
      const std::vector<float> stereo = recorder_->Samples();
      for (size_t i = 0; i + 1 < stereo.size(); i += 2) left.push_back(stereo[i]);
    }
    recorder_.reset();
    return left;
  }
  bool LostSound() const override { return lost_; }

 private:
  static constexpr const char* kSink = "orvex_player";
  size_t Underruns() const {
    const std::string log = server_.dir.Read("server.err");
    size_t n = 0;
    for (size_t at = log.find("nderrun of 'Orvex output'"); at != std::string::npos;
         at = log.find("nderrun of 'Orvex output'", at + 1))
      ++n;
    return n;
  }

  PrivateSoundServer server_{{std::string("sink_name=") + kSink + " rate=48000 format=float32le"},
                             {"--log-level=debug"}};
  pulse::PulseServer program_;
  pulse::SinkInfo sink_;
  std::unique_ptr<MonitorRecorder> recorder_;
  std::unique_ptr<pulse::PulseSinkDevice> device_;
  size_t underruns_ = 0;
  bool lost_ = false;
};

class PlayerOnEachBackend : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "Jack") backend_ = std::make_unique<JackBackend>();
    if (GetParam() == "Exclusive") backend_ = std::make_unique<ExclusiveBackend>(dir_);
    if (GetParam() == "PulseSink") backend_ = std::make_unique<PulseBackend>();
    ASSERT_TRUE(backend_);
    ASSERT_EQ(backend_->Started(), "");
  }
  void TearDown() override {
    backend_.reset();
    EXPECT_TRUE(messages_.messages.empty()) << messages_.messages.front();
  }

  TempDir dir_;
  MessageRecorder messages_;
  std::unique_ptr<PlayerBackend> backend_;
};

TEST_P(PlayerOnEachBackend, PlayPauseResumeSeekAndStopNeverStepAboveTheMaterial) {
  JudgeScene(*backend_, [&] { return TransportScene(*backend_, dir_); });
}

TEST_P(PlayerOnEachBackend, TheLowBandOfTheToneControlIsHeard) {
  JudgeScene(*backend_, [&] { return ToneScene(*backend_, dir_); });
}

TEST_P(PlayerOnEachBackend, TheContinuousPlayPlayerIsHeardWithoutToneControl) {
  JudgeScene(*backend_, [&] { return BackgroundScene(*backend_, dir_); });
}

INSTANTIATE_TEST_SUITE_P(Backends, PlayerOnEachBackend,
                         ::testing::Values("Jack", "Exclusive", "PulseSink"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace orvex::test
