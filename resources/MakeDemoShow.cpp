// Build step: writes the demo show and the sounds it plays, all made here
// (tones, noise, a bed), so a newcomer can press GO at once.
//   orvex-demoshow OUTDIR        writes OUTDIR/demo.csv and OUTDIR/sounds/*.wav
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "show/CueStore.h"
#include "show/Messages.h"
#include "show/Record.h"
#include "show/ShowFile.h"

namespace {

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

using Sample = std::function<void(double t, double& left, double& right)>;

void Put16(std::ofstream& out, uint16_t v) {
  out.put(char(v & 0xFF)).put(char(v >> 8));
}
void Put32(std::ofstream& out, uint32_t v) {
  Put16(out, uint16_t(v & 0xFFFF));
  Put16(out, uint16_t(v >> 16));
}

bool WriteWav(const std::filesystem::path& path, double seconds, const Sample& sample) {
  const uint32_t frames = uint32_t(seconds * kRate);
  std::ofstream out(path, std::ios::binary);
  out.write("RIFF", 4);
  Put32(out, 36 + frames * 4);
  out.write("WAVEfmt ", 8);
  Put32(out, 16);
  Put16(out, 1);
  Put16(out, 2);
  Put32(out, kRate);
  Put32(out, kRate * 4);
  Put16(out, 4);
  Put16(out, 16);
  out.write("data", 4);
  Put32(out, frames * 4);
  std::vector<char> block;
  block.reserve(frames * 4);
  for (uint32_t i = 0; i < frames; ++i) {
    double l = 0, r = 0;
    const double t = double(i) / kRate;
    sample(t, l, r);
    // Short edges at both ends: no click when a file starts or ends.
    const double edge = std::min({1.0, t / 0.01, (seconds - t) / 0.01});
    for (double v : {l * edge, r * edge}) {
      const auto s = int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32767));
      block.push_back(char(s & 0xFF));
      block.push_back(char((s >> 8) & 0xFF));
    }
  }
  out.write(block.data(), std::streamsize(block.size()));
  return bool(out);
}

// A struck bell: a few partials that die away.
Sample Chime(double base) {
  return [base](double t, double& l, double& r) {
    const double v = 0.35 * std::exp(-2.2 * t) *
                     (std::sin(2 * kPi * base * t) + 0.5 * std::sin(2 * kPi * base * 2.76 * t) +
                      0.25 * std::sin(2 * kPi * base * 5.4 * t));
    l = v;
    r = v * 0.9;
  };
}

// White noise through a falling gate.
Sample NoiseBurst() {
  auto rng = std::make_shared<std::mt19937>(7);
  return [rng](double t, double& l, double& r) {
    std::uniform_real_distribution<double> d(-1, 1);
    const double gate = std::exp(-3.0 * t);
    l = 0.5 * gate * d(*rng);
    r = 0.5 * gate * d(*rng);
  };
}

// A soft bed: low-passed noise under a slow fifth.
Sample Bed() {
  auto rng = std::make_shared<std::mt19937>(11);
  auto state = std::make_shared<std::array<double, 2>>();
  return [rng, state](double t, double& l, double& r) {
    std::uniform_real_distribution<double> d(-1, 1);
    (*state)[0] += 0.02 * (d(*rng) - (*state)[0]);
    (*state)[1] += 0.02 * (d(*rng) - (*state)[1]);
    const double swell = 0.6 + 0.4 * std::sin(2 * kPi * 0.1 * t);
    const double tone = 0.12 * (std::sin(2 * kPi * 110 * t) + std::sin(2 * kPi * 165 * t));
    l = swell * (1.6 * (*state)[0] + tone);
    r = swell * (1.6 * (*state)[1] + tone);
  };
}

Sample Drone(double base, double pulse) {
  return [base, pulse](double t, double& l, double& r) {
    const double amp = pulse > 0 ? 0.5 + 0.5 * std::sin(2 * kPi * pulse * t) : 1.0;
    const double v =
        0.25 * amp * (std::sin(2 * kPi * base * t) + 0.3 * std::sin(2 * kPi * base * 2.01 * t));
    l = v;
    r = v;
  };
}

struct DemoCue {
  int ch;
  double q;
  const char* title;
  const char* file;
  double pre, fadeIn, fadeOut;
  int outputs;  // 0: as the strip is set
  const char* description;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  orvex::StderrMessageSink sink;
  orvex::SetMessageSink(&sink);
  const std::filesystem::path dir = std::filesystem::absolute(argv[1]);
  const std::filesystem::path sounds = dir / "sounds";
  std::filesystem::create_directories(sounds);

  struct Sound {
    const char* name;
    double seconds;
    Sample sample;
  };
  const Sound soundList[] = {
      {"bed.wav", 40, Bed()},
      {"chime_a.wav", 2.5, Chime(880)},
      {"chime_b.wav", 2.5, Chime(660)},
      {"noise_burst.wav", 1.2, NoiseBurst()},
      {"drone_low.wav", 30, Drone(73.4, 0)},
      {"pad_x.wav", 30, Drone(220, 0.5)},
      {"pad_y.wav", 30, Drone(330, 0.25)},
  };
  for (const Sound& s : soundList) {
    if (!WriteWav(sounds / s.name, s.seconds, s.sample)) {
      std::fprintf(stderr, "cannot write %s\n", (sounds / s.name).c_str());
      return 1;
    }
  }

  using orvex::OUT_G1;
  using orvex::OUT_M;
  using orvex::OUT_ON;
  using orvex::OUT_X;
  using orvex::OUT_Y;
  const DemoCue cues[] = {
      {1, 1, "環境音ベッド", "bed.wav", 6.0, 3, 4, 0, "フェードインで始まる"},
      {2, 2, "チャイム A", "chime_a.wav", 8.0, 0, 0, 0, ""},
      {3, 3, "ノイズバースト", "noise_burst.wav", 7.0, 0, 0, 0, ""},
      {2, 4, "チャイム B", "chime_b.wav", 8.0, 0, 0, 0, ""},
      {1, 5, "ベッドを消す", "FOUT", 0, 0, 4, 0, "4 秒でフェードアウト"},
      {7, 6, "グループ1 オン", "UP", 8.0, 0, 0, OUT_M | OUT_ON, ""},
      {4, 6, "低音ドローン", "drone_low.wav", 7.0, 2, 3, OUT_G1, "グループ1 経由"},
      {7, 7, "グループ1 下げ", "FDOWN", 3.0, 0, 4, OUT_M | OUT_ON, ""},
      {7, 8, "グループ1 戻し", "FUP", 8.0, 4, 0, OUT_M | OUT_ON, ""},
      {5, 9, "パッド X", "pad_x.wav", 7.0, 0, 3, OUT_M | OUT_X, "クロスフェーダー X 側"},
      {6, 9, "パッド Y", "pad_y.wav", 7.0, 0, 3, OUT_M | OUT_Y, "クロスフェーダー Y 側"},
      {4, 10, "ドローン終わり", "FOUT", 0, 0, 3, 0, ""},
      {5, 10, "パッド X 終わり", "FOUT", 0, 0, 3, 0, ""},
      {6, 10, "パッド Y 終わり", "FOUT", 0, 0, 3, 0, ""},
  };
  orvex::CueStore store;
  store.SetSoundFolder(sounds.string());
  for (const DemoCue& c : cues) {
    orvex::RecordValues v;
    v.qNumber = c.q;
    v.title = c.title;
    v.fileOrCommand = c.file;
    v.description = c.description;
    v.preLevel = c.pre;
    v.fadeIn = c.fadeIn;
    v.fadeOut = c.fadeOut;
    v.outputFlags = c.outputs;
    v.outputSpecified = c.outputs != 0;
    store.AddRecord(c.ch, v);
  }
  return orvex::SaveShowFile((dir / "demo.csv").string(), store) ? 0 : 1;
}
