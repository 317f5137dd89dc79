#include "engine/MarkerPanel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "show/TextNumbers.h"

namespace orvex {
namespace {

uint64_t MulSat(uint64_t a, uint64_t b) {
  return a != 0 && b > UINT64_MAX / a ? UINT64_MAX : a * b;
}

// A part of a typed time; a negative number counts as 0 like a non-number.
uint64_t TimePart(const std::string& text) {
  return static_cast<uint64_t>(std::max<int32_t>(ParseLeadingInt(text), 0));
}

}  // namespace

std::string MarkerEntryText(uint32_t p, uint32_t bytesPerSecond) {
  if (bytesPerSecond == 0) return "0.00.000";
  const uint32_t s = p / bytesPerSecond;
  const auto ms = static_cast<uint32_t>(uint64_t{p} * 1000 / bytesPerSecond % 1000);
  char text[32];
  std::snprintf(text, sizeof text, "%u.%02u.%03u", s / 60, s % 60, ms);
  return text;
}

uint32_t ParseMarkerTime(const std::string& text, uint32_t bytesPerSecond) {
  const size_t dot = text.find('.');
  const std::string minutes = text.substr(0, dot);
  const std::string rest = dot == std::string::npos ? std::string() : text.substr(dot + 1);
  const size_t dot2 = rest.find('.');
  const std::string seconds = rest.substr(0, dot2);
  const std::string millis = dot2 == std::string::npos ? std::string() : rest.substr(dot2 + 1);
  const uint64_t b = bytesPerSecond;
  const uint64_t whole = MulSat(MulSat(TimePart(minutes), 60) + TimePart(seconds), b);
  const uint64_t part = MulSat(b, TimePart(millis)) / 1000;
  const uint64_t p = whole > UINT64_MAX - part ? UINT64_MAX : whole + part;
  return static_cast<uint32_t>(std::min<uint64_t>(p, UINT32_MAX));
}

StripMark MarkerTriangle(uint32_t p, uint32_t range, int width, int height) {
  StripMark m;
  // A marker past the end of the file sits at the right end, where a jump
  // to it lands.
  const uint64_t x =
      range == 0 ? 0 : uint64_t{static_cast<uint32_t>(std::max(width, 0))} * p / range;
  m.x = static_cast<int>(std::min<uint64_t>(x, static_cast<uint64_t>(std::max(width, 0))));
  m.halfWidth = static_cast<int>(std::max(height - 3, 0) / std::sqrt(3.0));
  m.topY = 1;
  m.tipY = height - 2;
  return m;
}

uint32_t StripPosition(int x, int width, uint32_t range) {
  if (width <= 0 || x <= 0) return 0;
  return static_cast<uint32_t>(uint64_t{static_cast<uint32_t>(x)} * range /
                               static_cast<uint32_t>(width));
}

MarkerRow* CMarkerPanel::RowOf(int ch) {
  return ch >= 1 && ch <= kChannels ? &rows_[static_cast<size_t>(ch)] : nullptr;
}

const MarkerRow& CMarkerPanel::Row(int ch) const {
  static const MarkerRow kNone;
  return ch >= 1 && ch <= kChannels ? rows_[static_cast<size_t>(ch)] : kNone;
}

void CMarkerPanel::Changed(int ch) {
  if (listener_) listener_(ch);
}

void CMarkerPanel::EmptyRow(MarkerRow& row) {
  row.entries.clear();
  row.entry = -1;
  row.selected = -1;
}

void CMarkerPanel::ClearChannelFile(int ch) {
  MarkerRow* row = RowOf(ch);
  if (!row) return;
  row->list = nullptr;
  row->path.clear();
  EmptyRow(*row);
  Changed(ch);
}

void CMarkerPanel::SelectChannelFile(int ch, const std::string& path,
                                     std::optional<FileTiming> timing) {
  MarkerRow* row = RowOf(ch);
  if (!row) return;
  if (timing) {
    row->bytesPerSecond = timing->bytesPerSecond;
    row->range = timing->dataSize;
  }
  row->path = path;
  row->list = store_.Obtain(path);
  EmptyRow(*row);
  row->entries = *row->list;
  if (!row->entries.empty()) {
    row->entry = 0;
    row->selected = row->entries.front();
  }
  Changed(ch);
}

void CMarkerPanel::LoadMarkerFile(const std::string& path) {
  if (loader_) loader_(path);
}

void CMarkerPanel::AddMarker(int ch, uint32_t p) {
  MarkerRow* row = RowOf(ch);
  if (!row || !row->list) return;
  row->list->push_back(p);
  row->entries.push_back(p);
  row->entry = static_cast<int>(row->entries.size()) - 1;
  row->selected = p;
  Changed(ch);
}

void CMarkerPanel::Mark(int ch, uint32_t sliderPosition) {
  if (!RowOf(ch)) return;
  modified_ = true;
  AddMarker(ch, sliderPosition);
}

void CMarkerPanel::AddTyped(int ch, const std::string& text) {
  MarkerRow* row = RowOf(ch);
  if (!row || !row->list) return;
  modified_ = true;
  AddMarker(ch, ParseMarkerTime(text, row->bytesPerSecond));
}

void CMarkerPanel::AddAtStrip(int ch, int x, int stripWidth) {
  MarkerRow* row = RowOf(ch);
  if (!row) return;
  modified_ = true;
  AddMarker(ch, StripPosition(x, stripWidth, row->range));
}

void CMarkerPanel::SelectEntry(int ch, int index) {
  MarkerRow* row = RowOf(ch);
  if (!row || index < 0 || index >= static_cast<int>(row->entries.size())) return;
  row->entry = index;
  row->selected = row->entries[static_cast<size_t>(index)];
  Changed(ch);
}

void CMarkerPanel::DeleteSelected(int ch) {
  MarkerRow* row = RowOf(ch);
  if (!row || !row->list || row->entry < 0) return;
  modified_ = true;
  const auto index = static_cast<size_t>(row->entry);
  const uint32_t p = row->entries[index];
  MarkerList& list = *row->list;
  // The box and the list match item for item until the rows were cleared
  // or another channel added to the same list; then the position is looked
  // for, so the marker removed is always the one the operator chose.
  if (index < list.size() && list[index] == p) {
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
  } else if (auto it = std::find(list.begin(), list.end(), p); it != list.end()) {
    list.erase(it);
  }
  row->entries.erase(row->entries.begin() + static_cast<std::ptrdiff_t>(index));
  row->entry = -1;
  row->selected = -1;
  Changed(ch);
}

void CMarkerPanel::ClearChannel(int ch) {
  MarkerRow* row = RowOf(ch);
  if (!row || !row->list) return;
  row->list->clear();
  EmptyRow(*row);
  modified_ = true;
  Changed(ch);
}

void CMarkerPanel::ClearAll() {
  for (int ch = 1; ch <= kChannels; ++ch) EmptyRow(*RowOf(ch));
  modified_ = true;
  Changed(0);
}

void CMarkerPanel::ResetRows() {
  for (int ch = 1; ch <= kChannels; ++ch) EmptyRow(*RowOf(ch));
  Changed(0);
}

void CMarkerPanel::SeekTo(int ch, uint32_t position) {
  MarkerRow* row = RowOf(ch);
  if (!row) return;
  row->requested = position;
  row->dragging = false;
  if (sink_) sink_(cmd::Seek{ch, position});
}

void CMarkerPanel::SetDragging(int ch, bool dragging) {
  if (MarkerRow* row = RowOf(ch)) row->dragging = dragging;
}

void CMarkerPanel::Top(int ch) {
  SeekTo(ch, 0);
}

bool CMarkerPanel::JumpTo(int ch) {
  const MarkerRow* row = RowOf(ch);
  if (!row || row->entry < 0) return false;
  SeekTo(ch, row->entries[static_cast<size_t>(row->entry)]);
  return true;
}

std::vector<std::string> CMarkerPanel::EntryTexts(int ch) const {
  const MarkerRow& row = Row(ch);
  std::vector<std::string> texts;
  texts.reserve(row.entries.size());
  for (uint32_t p : row.entries) texts.push_back(MarkerEntryText(p, row.bytesPerSecond));
  return texts;
}

std::vector<StripMark> CMarkerPanel::StripMarks(int ch, int width, int height) const {
  const MarkerRow& row = Row(ch);
  std::vector<StripMark> marks;
  // Where the range is not known, no place on the strip means anything.
  if (row.range == 0) return marks;
  for (uint32_t p : row.entries) marks.push_back(MarkerTriangle(p, row.range, width, height));
  if (row.selected >= 0) {
    StripMark red = MarkerTriangle(static_cast<uint32_t>(row.selected), row.range, width, height);
    red.selected = true;
    marks.push_back(red);
  }
  return marks;
}

}  // namespace orvex
