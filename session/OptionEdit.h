// The operation settings and the cue list display options as their dialogs
// show them: texts filled from the settings, the checks of OK in order, and
// the values OK stores.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "show/Settings.h"

namespace orvex {

inline constexpr const char* kBufferNotPositive = "バッファサイズは正の数にしてください";
inline constexpr const char* kSecondBufferTooLarge = "2ndバッファサイズは30秒以下にしてください";
inline constexpr const char* kFirstBufferTooLarge = "1stバッファサイズは10秒以下にしてください";
inline constexpr const char* kKneePointRange =
    "フェーダレベル変節点は 0 から 10 までの間の値を指定してください";
inline constexpr const char* kKneeLevelRange =
    "変節点レベルは 0 から 10 までの間の値を指定してください";
inline constexpr const char* kWheelNotPositive =
    "マウスのホイールスピードは 0 より大きい整数にしてください";

// The "動作設定" dialog's entries; index 0 of the arrays is CH1.
struct OperationFields {
  bool block = false;
  bool autoNext = true;
  std::array<std::string, 6> first;   // 1st buffer seconds
  std::array<std::string, 6> second;  // 2nd buffer seconds
  std::string kneePoint;
  std::string kneeLevel;
  std::string wheel;
};

// What OK hands on, once every entry passed.
struct OperationValues {
  bool block = false;
  bool autoNext = true;
  std::array<int32_t, 6> first{};
  std::array<int32_t, 6> second{};
  double kneePoint = 1;
  double kneeLevel = 0.5;
  int16_t wheel = 120;
};

OperationFields OperationFieldsOf(const Settings& settings);
// The "既定値" buttons.
inline constexpr const char* kDefaultFirst = "10";
inline constexpr const char* kDefaultSecond = "20";
inline constexpr const char* kDefaultKneePoint = "1";
inline constexpr const char* kDefaultKneeLevel = "0.5";
inline constexpr const char* kDefaultWheel = "120";

// Either the values or the first message, in the dialog's order of checks.
struct OperationCheck {
  std::optional<OperationValues> values;
  std::string message;
};
OperationCheck CheckOperationFields(const OperationFields& fields);

// The "オプション" dialog: the font size in points, the back-display count.
struct DisplayFields {
  std::string fontPoints;
  bool cursorFix = false;
  std::string backDisplay;
};
DisplayFields DisplayFieldsOf(const Settings& settings);
// Entries that make no sense leave their setting as it was.
void StoreDisplayFields(const DisplayFields& fields, Settings& settings);

}  // namespace orvex
