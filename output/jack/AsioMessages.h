// Operator messages of the block-device host.
#pragma once

namespace orvex {

inline constexpr const char* kAsioDeviceLost =
    "ASIOドライバ（JACKサーバー）が停止しました。ASIO出力は無音になります。\n"
    "サーバーを起動し直してからサウンドデバイスを選び直すと再開します。";

}  // namespace orvex
