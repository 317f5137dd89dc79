// Folding files of more than two channels down to the outputs' stereo pair,
// for every back-end alike: front sides go to their side, centres and
// surrounds to their side at -3 dB (a centre to both), the LFE is left out.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace orvex {

// Speaker bits of a channel mask, in the order the channels are stored.
inline constexpr uint32_t kSpeakerFrontLeft = 0x1;
inline constexpr uint32_t kSpeakerFrontRight = 0x2;
inline constexpr uint32_t kSpeakerFrontCenter = 0x4;
inline constexpr uint32_t kSpeakerLfe = 0x8;
inline constexpr uint32_t kSpeakerBackLeft = 0x10;
inline constexpr uint32_t kSpeakerBackRight = 0x20;
inline constexpr uint32_t kSpeakerFrontLeftOfCenter = 0x40;
inline constexpr uint32_t kSpeakerFrontRightOfCenter = 0x80;
inline constexpr uint32_t kSpeakerBackCenter = 0x100;
inline constexpr uint32_t kSpeakerSideLeft = 0x200;
inline constexpr uint32_t kSpeakerSideRight = 0x400;

inline constexpr uint32_t kMaxMixChannels = 32;

// The layout a file of n channels has when it names none.
constexpr uint32_t DefaultChannelMask(uint32_t channels) {
  switch (channels) {
    case 1:
      return kSpeakerFrontCenter;
    case 2:
      return 0x3;  // front left, front right
    case 3:
      return 0x7;  // + front centre
    case 4:
      return 0x33;  // front and back pairs
    case 5:
      return 0x37;  // front pair, centre, back pair
    case 6:
      return 0x3F;  // 5.1
    case 7:
      return 0x70F;  // 6.1: front, centre, LFE, back centre, sides
    case 8:
      return 0x63F;  // 7.1: 5.1 and the side pair
    default:
      return 0;
  }
}

// Per source channel, its share of the left and the right output.
struct StereoMatrix {
  std::array<float, kMaxMixChannels> left{};
  std::array<float, kMaxMixChannels> right{};
};

// mask 0, or one that does not name exactly `channels` speakers, means the
// default layout. Channels no speaker bit describes are left out.
inline StereoMatrix StereoDownmix(uint32_t channels, uint32_t mask) {
  constexpr float kMinus3dB = 0.70710678f;
  if (mask == 0 || uint32_t(std::popcount(mask)) != channels) mask = DefaultChannelMask(channels);
  StereoMatrix m;
  uint32_t c = 0;
  for (uint32_t bit = 1; bit != 0 && c < channels && c < kMaxMixChannels; bit <<= 1) {
    if ((mask & bit) == 0) continue;
    float l = 0, r = 0;
    switch (bit) {
      case kSpeakerFrontLeft:
      case kSpeakerFrontLeftOfCenter:
        l = 1;
        break;
      case kSpeakerFrontRight:
      case kSpeakerFrontRightOfCenter:
        r = 1;
        break;
      case kSpeakerFrontCenter:
      case kSpeakerBackCenter:
        l = r = kMinus3dB;
        break;
      case kSpeakerBackLeft:
      case kSpeakerSideLeft:
        l = kMinus3dB;
        break;
      case kSpeakerBackRight:
      case kSpeakerSideRight:
        r = kMinus3dB;
        break;
      default:  // LFE and the height speakers
        break;
    }
    m.left[c] = l;
    m.right[c] = r;
    ++c;
  }
  return m;
}

}  // namespace orvex
