// The order in which an engine sums its voices.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "output/mixer/VirtualDevice.h"
#include "output/mixer/VoiceEngine.h"

namespace orvex::mixer {
namespace {

// Float sums depend on their order: voices are summed by the places their
// owners give them, so the mix is the same whichever voice was made first
// (players open their files on threads of their own, in any order).
TEST(VoiceEnginePlaces, TheSumFollowsThePlacesNotTheOrderOfCreation) {
  const WaveFormat mono{kFormatPcm, 1, 48000, 96000, 2, 16};
  const std::vector<int16_t> big(4800, 32767), minus(4800, -32767), tiny(4800, 1);
  const auto mix = [&](std::vector<int> order) {
    VirtualDevice device("v", "V", 2, 48000);
    auto engine = CreateVoiceEngine(1);
    EXPECT_TRUE(engine->CreateMasteringVoice(device));
    device.SetCapture(true);
    const std::vector<int16_t>* data[] = {&big, &minus, &tiny};
    const float gains[] = {1.0f, 1.0f, 1e-4f};
    for (int i : order) {
      SourceVoice* v = engine->CreateSourceVoice(mono, 2.0f, i + 1);
      v->SubmitSourceBuffer(reinterpret_cast<const uint8_t*>(data[i]->data()), 9600);
      v->SetVolume(gains[i]);
      v->Start();
    }
    device.Pull(1000);
    const std::vector<float> out = device.Captured();
    engine->DestroyMasteringVoice();
    return out;
  };
  const std::vector<float> inOrder = mix({0, 1, 2});
  ASSERT_EQ(inOrder.size(), 2000u);
  EXPECT_GT(inOrder[1500], 0.0f);  // the tiny voice, kept after the others cancel
  EXPECT_EQ(mix({2, 0, 1}), inOrder);
  EXPECT_EQ(mix({1, 2, 0}), inOrder);
}

}  // namespace
}  // namespace orvex::mixer
