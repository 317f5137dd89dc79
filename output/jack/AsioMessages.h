// Operator messages of the block-device host.
#pragma once

namespace orvex {

inline constexpr const char* kAsioDeviceLost =
    "ASIOドライバ（JACKサーバー）が停止しました。ASIO出力は無音になります。\n"
    "サーバーが再び起動すると、出力を自動的に開き直します。";

// The server stopped calling for more than a second and then went on: what
// played then was lost, and the cues sound again from where they are now.
inline constexpr const char* kAsioStalledAndResumed =
    "ASIO出力（JACKサーバー）が一時停止していましたが、再開しました。\n"
    "再生中のキューは現在の位置から続きます。";

}  // namespace orvex
