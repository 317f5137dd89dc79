// The slider panel's logic: one row per channel CH1..CH6 with the markers of
// the channel's file, the marker store they come from, and the operator's
// marker actions. A view draws the rows and forwards the operator's actions;
// seeks go to the console as commands. UI thread only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/ConsoleCommand.h"
#include "engine/ConsoleTypes.h"
#include "show/MarkerFile.h"

namespace orvex {

inline constexpr const char* kClearAllMarkersQuestion = "すべてのマーカーをクリアしますか？";

// "m.ss.mmm" of byte position p at bytesPerSecond (11025000 at 176400 is
// "1.02.500"). An unknown rate (0) shows "0.00.000".
std::string MarkerEntryText(uint32_t p, uint32_t bytesPerSecond);
// A typed time "m.s.ms" as a byte position: missing parts and parts that are
// not numbers count as 0, the milliseconds are not scaled by their digit
// count ("1.02.5" is 1 min 2 s 5 ms). A time past the end of the file is
// accepted; one beyond 32 bits gives the largest position.
uint32_t ParseMarkerTime(const std::string& text, uint32_t bytesPerSecond);

// A marker on a strip width x height pixels for a slider range: a triangle
// pointing down, tip (x, tipY), upper corners (x - halfWidth, topY) and
// (x + halfWidth, topY).
struct StripMark {
  int x = 0;
  int halfWidth = 0;
  int topY = 1;
  int tipY = 0;
  bool selected = false;  // red; the others black
};
StripMark MarkerTriangle(uint32_t p, uint32_t range, int width, int height);
// The position a double-click at x (from the strip's left edge) stands for.
uint32_t StripPosition(int x, int width, uint32_t range);

struct MarkerRow {
  uint32_t bytesPerSecond = 0;
  uint32_t range = 0;                // the slider's maximum: the file's data size
  std::string path;                  // whose markers the row shows (as stored); empty: none
  std::shared_ptr<MarkerList> list;  // null: the channel has no file
  std::vector<uint32_t> entries;     // the marker box's items, in box order
  int entry = -1;                    // the box's selected item
  int64_t selected = -1;             // the marker drawn red
  uint32_t requested = 0;            // the position handed to the last seek
  bool dragging = false;             // the player leaves the slider alone
};

class CMarkerPanel final : public SliderPanelLink {
 public:
  using CommandSink = std::function<void(const ConsoleCommand&)>;
  // ch 1..6, or 0 for every row.
  using ChangeListener = std::function<void(int ch)>;
  using FileLoader = std::function<void(const std::string& path)>;

  // The store lives as long as the panel; the document borrows it.
  MarkerStore& Store() { return store_; }

  // --- wiring ---
  void SetCommandSink(CommandSink sink) { sink_ = std::move(sink); }
  void SetChangeListener(ChangeListener listener) { listener_ = std::move(listener); }
  // Merges a marker file into the store (the document's LoadMarkerFile).
  void SetFileLoader(FileLoader loader) { loader_ = std::move(loader); }

  // --- from the console ---
  void ClearChannelFile(int ch) override;
  void SelectChannelFile(int ch, const std::string& path,
                         std::optional<FileTiming> timing) override;
  void LoadMarkerFile(const std::string& path) override;

  // --- the operator's actions ---
  // "マーク" at the slider's position; sets markers modified even without a file.
  void Mark(int ch, uint32_t sliderPosition);
  // "追加" with the text of the marker box's edit field.
  void AddTyped(int ch, const std::string& text);
  // A double-click x pixels from the strip's left edge.
  void AddAtStrip(int ch, int x, int stripWidth);
  // Appends p to the channel's list (no duplicate check) and selects it.
  void AddMarker(int ch, uint32_t p);
  void SelectEntry(int ch, int index);
  // "削除": the selected entry.
  void DeleteSelected(int ch);
  // "クリア": every marker of the channel's file.
  void ClearChannel(int ch);
  // "全マーク クリア", once the operator said yes to its question (the
  // window asks): empties the six rows; the store keeps its lists, so a file
  // selected again shows its markers.
  void ClearAll();
  // The document was closed: the rows are emptied, nothing is modified.
  void ResetRows();

  // The slider released or paged: seeks the channel there.
  void SeekTo(int ch, uint32_t position);
  void SetDragging(int ch, bool dragging);
  void Top(int ch);
  // Seeks to the selected entry; false without one.
  bool JumpTo(int ch);

  // --- state ---
  const MarkerRow& Row(int ch) const;
  std::vector<std::string> EntryTexts(int ch) const;
  // Black markers first, the selected one (red) last: the drawing order.
  std::vector<StripMark> StripMarks(int ch, int width, int height) const;
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }

 private:
  MarkerRow* RowOf(int ch);
  void EmptyRow(MarkerRow& row);
  void Changed(int ch);

  MarkerStore store_;
  std::array<MarkerRow, kChannels + 1> rows_{};  // [1..6]
  bool modified_ = false;
  CommandSink sink_;
  ChangeListener listener_;
  FileLoader loader_;
};

}  // namespace orvex
