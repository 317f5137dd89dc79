// Shows travel between the home platform and Linux: every character the code
// page has must survive a load and save byte for byte.
#include <gtest/gtest.h>

#include <map>

#include "MessageRecorder.h"
#include "show/Cp932.h"
#include "show/ShowFile.h"
#include "show/TextNumbers.h"

namespace orvex {
namespace {

bool IsLead(int b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Every character of the code page as the home platform writes it: single
// bytes (the five it maps to code points included) and every double-byte
// code that decodes, NEC and IBM extensions and the user area included.
std::vector<std::string> EveryCharacter() {
  std::vector<std::string> chars;
  for (int b = 0x20; b <= 0xFF; ++b) {
    if (b == 0x7F || IsLead(b)) continue;
    chars.push_back(std::string(1, static_cast<char>(b)));
  }
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (!IsLead(lead)) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      std::string c{static_cast<char>(lead), static_cast<char>(trail)};
      if (Cp932ToUtf8(c)) chars.push_back(c);
    }
  }
  return chars;
}

// The home platform's choice among codes of one character: JIS X 0208 first,
// then NEC row 13, then the IBM extensions, the NEC-selected IBM extensions
// (lead bytes 0xED, 0xEE) last; in code order that is the lowest code that
// is not NEC-selected.
std::map<std::string, std::string> PreferredCodes(const std::vector<std::string>& chars) {
  std::map<std::string, std::string> best;
  auto rank = [](const std::string& c) {
    unsigned lead = static_cast<unsigned char>(c[0]);
    return std::pair<int, std::string>(lead == 0xED || lead == 0xEE ? 1 : 0, c);
  };
  for (const std::string& c : chars) {
    std::string u = *Cp932ToUtf8(c);
    auto it = best.find(u);
    if (it == best.end() || rank(c) < rank(it->second)) best[u] = c;
  }
  return best;
}

TEST(Cp932, FiveSingleBytesDecodeAndEncodeAsOnTheHomePlatform) {
  EXPECT_EQ(Cp932ToUtf8("\x80\xA0\xFD\xFE\xFF"),
            "\xC2\x80\xEF\xA3\xB0\xEF\xA3\xB1\xEF\xA3\xB2\xEF\xA3\xB3");
  EXPECT_EQ(
      Utf8ToCp932("a\xC2\x80\xEF\xA3\xB0\xEF\xA3\xB1\xEF\xA3\xB2\xEF\xA3\xB3z", Cp932Use::kName),
      "a\x80\xA0\xFD\xFE\xFFz");
  // As trail bytes 0x80 and 0xA0 belong to a double-byte character.
  EXPECT_EQ(Cp932ToUtf8("\x81\x80\x81\xA0"), "÷□");
  EXPECT_FALSE(Cp932ToUtf8("\x81").has_value());
}

TEST(Cp932, LookAlikesAreStoredInTextsButRefusedInNames) {
  const std::vector<std::pair<std::string, std::string>> lookAlikes = {
      {"¥", "\\"}, {"‾", "~"},  {"—", "―"},  {"〜", "～"}, {"‖", "∥"},
      {"−", "－"}, {"¢", "￠"}, {"£", "￡"}, {"¬", "￢"}};
  for (const auto& [typed, stored] : lookAlikes) {
    std::optional<std::string> bytes = Utf8ToCp932(typed, Cp932Use::kText);
    ASSERT_TRUE(bytes.has_value()) << typed;
    EXPECT_EQ(Cp932ToUtf8(*bytes), stored);
    EXPECT_EQ(Utf8ToCp932("曲" + typed + "1.wav", Cp932Use::kName), std::nullopt) << typed;
    EXPECT_EQ(FirstUnencodableCharacter("曲" + typed + "1.wav", Cp932Use::kName), typed);
    EXPECT_EQ(FirstUnencodableCharacter("曲" + typed + "1.wav", Cp932Use::kText), "");
    // What the code page holds is kept in names as it is.
    EXPECT_TRUE(Utf8ToCp932("曲" + stored + "1.wav", Cp932Use::kName).has_value());
  }
  EXPECT_EQ(FirstUnencodableCharacter("ok 🎵", Cp932Use::kText), "🎵");
}

TEST(Cp932, HomePlatformShowWithEveryCharacterSavesBackByteForByte) {
  MessageRecorder messages;
  const std::vector<std::string> chars = EveryCharacter();
  ASSERT_GT(chars.size(), 7000u);
  const std::map<std::string, std::string> preferred = PreferredCodes(chars);

  // Forty characters a cue, in the title, the file name and the description,
  // between letters so that no blank stands at an end of a field.
  std::string in = "C:\\\x83\x5C\x87\x40\\\x80\xA0\xFD,\r\n", expected = in;
  double q = 1;
  for (size_t at = 0; at < chars.size(); at += 40, ++q) {
    std::string text = "a", want = "a";
    for (size_t k = at; k < std::min(chars.size(), at + 40); ++k) {
      text += chars[k];
      want += preferred.at(*Cp932ToUtf8(chars[k]));
    }
    text += "z";
    want += "z";
    auto quoted = [](const std::string& cp932) {
      // Comma and quote never occur as trail bytes: quoting works on bytes.
      std::string out;
      for (char c : cp932) out += c == '"' ? std::string("\"\"") : std::string(1, c);
      return cp932.find_first_of(",\"") == std::string::npos ? out : '"' + out + '"';
    };
    auto line = [&](const std::string& t) {
      return FormatG(q) + ",1," + quoted(t) + "," + quoted(t) + ",8,0,0," + quoted(t) +
             ",0,1,0,0,0,\r\n";
    };
    in += line(text);
    expected += line(want);
  }
  CueStore store;
  ASSERT_TRUE(ParseShowText(in, store).ok);
  ASSERT_EQ(store.GetCount(1), static_cast<int>(q) - 1);
  std::string out;
  ShowSaveProblem problem;
  ASSERT_TRUE(FormatShowText(store, &out, nullptr, &problem)) << DescribeSaveProblem(problem);
  EXPECT_EQ(out, expected);
  EXPECT_TRUE(messages.messages.empty());
}

}  // namespace
}  // namespace orvex
