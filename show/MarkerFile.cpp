#include "show/MarkerFile.h"

#include <algorithm>

namespace orvex {
namespace {

// Lines are read in pieces of this many bytes at most.
constexpr size_t kPieceBytes = 511;

// A leading decimal integer (blanks and a sign allowed), 0 when none. The
// count line of a file and its positions are both read this way; positions
// up to 4294967295 read back as written, larger ones saturate, and a
// negative one counts as 0.
uint32_t LeadingPosition(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  uint64_t value = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(line[i] - '0'), UINT32_MAX);
  }
  return negative ? 0 : static_cast<uint32_t>(value);
}

}  // namespace

std::shared_ptr<MarkerList> MarkerStore::Find(const std::string& path) const {
  auto it = map_.find(path);
  return it == map_.end() ? nullptr : it->second;
}

std::shared_ptr<MarkerList> MarkerStore::Obtain(const std::string& path) {
  std::shared_ptr<MarkerList>& list = map_[path];
  if (!list) list = std::make_shared<MarkerList>();
  return list;
}

void MarkerStore::Put(const std::string& path, std::shared_ptr<MarkerList> list) {
  map_[path] = list ? std::move(list) : std::make_shared<MarkerList>();
}

std::string MarkerFileName(const std::string& wavPath) {
  const size_t dot = wavPath.rfind('.');
  const size_t slash = wavPath.find_last_of("\\/");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return wavPath + ".mrk";
  return wavPath.substr(0, dot) + ".mrk";
}

std::vector<std::string_view> TextPieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  size_t at = 0;
  while (at < text.size()) {
    const size_t lf = text.find('\n', at);
    const size_t lineEnd = lf == std::string_view::npos ? text.size() : lf + 1;
    const size_t end = std::min(lineEnd, at + kPieceBytes);
    std::string_view piece = text.substr(at, end - at);
    while (!piece.empty() && (piece.back() == '\n' || piece.back() == '\r')) piece.remove_suffix(1);
    pieces.push_back(piece);
    at = end;
  }
  return pieces;
}

void MergeMarkerText(std::string_view text, MarkerList& list) {
  const std::vector<std::string_view> lines = TextPieces(text);
  if (lines.empty()) return;
  const uint32_t count = LeadingPosition(lines[0]);
  // A count beyond the lines there are reads the rest as empty lines, which
  // all give 0: one look at 0 is the same, without a pass per missing line.
  const size_t present = lines.size() - 1;
  for (size_t n = 0; n < count; ++n) {
    const uint32_t v = n < present ? LeadingPosition(lines[n + 1]) : 0;
    if (std::find(list.begin(), list.end(), v) == list.end()) list.push_back(v);
    if (n >= present) break;
  }
}

std::string MarkerFileText(const MarkerList& list) {
  std::string text = std::to_string(list.size()) + "\r\n";
  for (uint32_t p : list) text += std::to_string(p) + "\r\n";
  return text;
}

}  // namespace orvex
