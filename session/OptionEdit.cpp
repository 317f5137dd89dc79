#include "session/OptionEdit.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "show/TextNumbers.h"

namespace orvex {

OperationFields OperationFieldsOf(const Settings& s) {
  OperationFields f;
  f.block = s.block != 0;
  f.autoNext = s.autoNext != 0;
  for (size_t i = 0; i < 6; ++i) {
    f.first[i] = std::to_string(s.prepBufSize[i + 1]);
    f.second[i] = std::to_string(s.bufSize[i + 1]);
  }
  f.kneePoint = FormatG(s.slowPoint);
  f.kneeLevel = FormatG(s.substVol);
  f.wheel = std::to_string(s.wheel);
  return f;
}

OperationCheck CheckOperationFields(const OperationFields& f) {
  OperationCheck check;
  OperationValues v;
  v.block = f.block;
  v.autoNext = f.autoNext;
  for (size_t i = 0; i < 6; ++i) {
    v.first[i] = ParseLeadingInt(f.first[i]);
    v.second[i] = ParseLeadingInt(f.second[i]);
  }
  v.kneePoint = ParseLeadingReal(f.kneePoint);
  v.kneeLevel = ParseLeadingReal(f.kneeLevel);
  const int32_t wheel = ParseLeadingInt(f.wheel);

  auto any = [](const std::array<int32_t, 6>& sizes, auto wrong) {
    for (int32_t size : sizes) {
      if (wrong(size)) return true;
    }
    return false;
  };
  if (any(v.second, [](int32_t s) { return s < 1; })) {
    check.message = kBufferNotPositive;
  } else if (any(v.second, [](int32_t s) { return s > 30; })) {
    check.message = kSecondBufferTooLarge;
  } else if (any(v.first, [](int32_t s) { return s < 1; })) {
    check.message = kBufferNotPositive;
  } else if (any(v.first, [](int32_t s) { return s > 10; })) {
    check.message = kFirstBufferTooLarge;
  } else if (!(v.kneePoint >= 0 && v.kneePoint <= 10)) {
    check.message = kKneePointRange;
  } else if (!(v.kneeLevel >= 0 && v.kneeLevel <= 10)) {
    check.message = kKneeLevelRange;
  } else if (wheel <= 0) {
    check.message = kWheelNotPositive;
  } else {
    // The setting holds 16 bits: a larger speed would turn into a negative
    // one and reverse the wheel.
    v.wheel = static_cast<int16_t>(std::min<int32_t>(wheel, std::numeric_limits<int16_t>::max()));
    check.values = v;
  }
  return check;
}

DisplayFields DisplayFieldsOf(const Settings& s) {
  DisplayFields f;
  // "%.1f" whatever locale the desktop set.
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, s.cueListFontSize / 10.0,
                                 std::chars_format::fixed, 1);
  f.fontPoints.assign(text, end.ptr);
  f.cursorFix = s.cueListCurFix != 0;
  f.backDisplay = std::to_string(s.cueListBackDisp);
  return f;
}

void StoreDisplayFields(const DisplayFields& f, Settings& s) {
  const double tenths = std::trunc(ParseLeadingReal(f.fontPoints) * 10);
  if (tenths > 0 && tenths <= std::numeric_limits<int32_t>::max()) {
    s.cueListFontSize = static_cast<int32_t>(tenths);
  }
  s.cueListCurFix = f.cursorFix ? 1 : 0;
  const double count = std::trunc(ParseLeadingReal(f.backDisplay));
  if (count >= 0 && count <= std::numeric_limits<int32_t>::max()) {
    s.cueListBackDisp = static_cast<int32_t>(count);
  }
}

}  // namespace orvex
