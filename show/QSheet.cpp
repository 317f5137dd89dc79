#include "show/QSheet.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace orvex {
namespace {
constexpr std::pair<const char*, CueCommand> kCommandWords[] = {
    {"STOP", CueCommand::kStop},   {"FOUT", CueCommand::kFout}, {"FUP", CueCommand::kFup},
    {"FDOWN", CueCommand::kFdown}, {"UP", CueCommand::kUp},     {"DOWN", CueCommand::kDown},
    {"PAUSE", CueCommand::kPause}, {"CONT", CueCommand::kCont}};

void Assign(CRecord& r, const RecordValues& v) {
  r.title = v.title;
  r.fileOrCommand = v.fileOrCommand;
  r.description = v.description;
  r.timing = v.timing;
  r.outputFlags = v.outputFlags;
  r.outputSpecified = v.outputSpecified;
  r.inSequence = v.inSequence;
  r.delay = v.delay;
  r.qNumber = v.qNumber;
  r.preLevel = v.preLevel;
  r.fadeIn = v.fadeIn;
  r.fadeOut = v.fadeOut;
}
}  // namespace

std::string OutputNotation(int32_t flags, bool outputSpecified) {
  if (!outputSpecified) return {};
  static constexpr std::pair<int32_t, const char*> kLabels[] = {
      {OUT_M, "M"}, {OUT_G1, "G1"}, {OUT_G2, "G2"}, {OUT_X, "X"}, {OUT_Y, "Y"}, {OUT_ON, "ON"}};
  std::string text;
  for (const auto& [bit, label] : kLabels) {
    if (!(flags & bit)) continue;
    if (!text.empty()) text += ',';
    text += label;
  }
  return text;
}

CueCommand CueCommandOf(const std::string& text) {
  for (const auto& [word, command] : kCommandWords)
    if (text == word) return command;
  return CueCommand::kNone;
}

bool IsCommandWord(const std::string& text) {
  return CueCommandOf(text) != CueCommand::kNone;
}

void CQSheet::Add(const RecordValues& v) {
  auto r = std::make_unique<CRecord>();
  Assign(*r, v);
  records_.push_back(std::move(r));
}

void CQSheet::Set(int i, const RecordValues& v) {
  if (IsValid(i)) Assign(At(i), v);
}

void CQSheet::SetBasic(int i, const std::string& title, const std::string& fileOrCommand,
                       const std::string& description, double qNumber, double preLevel,
                       double fadeIn, double fadeOut) {
  if (!IsValid(i)) return;
  CRecord& r = At(i);
  r.title = title;
  r.fileOrCommand = fileOrCommand;
  r.description = description;
  r.qNumber = qNumber;
  r.preLevel = preLevel;
  r.fadeIn = fadeIn;
  r.fadeOut = fadeOut;
}

std::string CQSheet::GetTitle(int i) const {
  return IsValid(i) ? At(i).title : std::string();
}
std::string CQSheet::GetFile(int i) const {
  return IsValid(i) ? At(i).fileOrCommand : std::string();
}
std::string CQSheet::GetDescription(int i) const {
  return IsValid(i) ? At(i).description : std::string();
}
ChannelData CQSheet::GetChannelData(int i) const {
  return IsValid(i) ? At(i).channelData : ChannelData{};
}
void CQSheet::SetChannelData(int i, const ChannelData& data) {
  if (IsValid(i)) At(i).channelData = data;
}

void CQSheet::MoveSmallerToFront() {
  // Each record smaller than the front at its turn becomes the new front, so
  // the moved records end up in reverse order of their turns, followed by the
  // others in their old order. Built in one pass: moving each one to the
  // front in turn costs n squared on a descending sheet.
  if (records_.size() < 2) return;
  const double first = records_.front()->qNumber;
  if (std::none_of(records_.begin() + 1, records_.end(),
                   [first](const auto& r) { return first > r->qNumber; }))
    return;
  std::vector<std::unique_ptr<CRecord>> moved, kept;
  double front = first;
  kept.push_back(std::move(records_.front()));
  for (size_t i = 1; i < records_.size(); ++i) {
    if (front > records_[i]->qNumber) {
      front = records_[i]->qNumber;
      moved.push_back(std::move(records_[i]));
    } else {
      kept.push_back(std::move(records_[i]));
    }
  }
  records_.clear();
  records_.reserve(moved.size() + kept.size());
  std::move(moved.rbegin(), moved.rend(), std::back_inserter(records_));
  std::move(kept.begin(), kept.end(), std::back_inserter(records_));
}

}  // namespace orvex
