// The ordered records of one channel. Positions are 1-based; positions
// outside 1..n are never an error: getters return empty values and setters
// do nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "show/Record.h"

namespace orvex {

// The fields Add and Set take, in one place.
struct RecordValues {
  std::string title;
  std::string fileOrCommand;
  std::string description;
  int32_t timing = 0;
  int32_t outputFlags = 0;
  bool outputSpecified = false;
  bool inSequence = true;
  int32_t delay = 0;
  double qNumber = 0;
  double preLevel = 0;
  double fadeIn = 0;
  double fadeOut = 0;
};

class CQSheet {
 public:
  CQSheet() = default;
  CQSheet(CQSheet&&) = default;
  CQSheet& operator=(CQSheet&&) = default;
  // A deep copy: the records are the copy's own.
  CQSheet(const CQSheet& other) {
    records_.reserve(other.records_.size());
    for (const auto& r : other.records_) records_.push_back(std::make_unique<CRecord>(*r));
  }
  CQSheet& operator=(const CQSheet& other) {
    if (this != &other) *this = CQSheet(other);
    return *this;
  }
  virtual ~CQSheet() = default;

  void Add(const RecordValues& v);
  void Set(int i, const RecordValues& v);
  void SetBasic(int i, const std::string& title, const std::string& fileOrCommand,
                const std::string& description, double qNumber, double preLevel, double fadeIn,
                double fadeOut);

  std::string GetTitle(int i) const;
  std::string GetFile(int i) const;
  std::string GetDescription(int i) const;
  ChannelData GetChannelData(int i) const;
  void SetChannelData(int i, const ChannelData& data);

  // Moves each record whose Q number is smaller than the current first
  // record's to the front; everything else keeps its place.
  void MoveSmallerToFront();
  void RemoveAll() { records_.clear(); }

  int GetCount() const { return static_cast<int>(records_.size()); }
  bool IsValid(int i) const { return i >= 1 && i <= GetCount(); }
  // Record i (1-based); i must be valid.
  CRecord& At(int i) { return *records_[static_cast<size_t>(i - 1)]; }
  const CRecord& At(int i) const { return *records_[static_cast<size_t>(i - 1)]; }
  // Record i, or nullptr when i is outside 1..n.
  const CRecord* Find(int i) const { return IsValid(i) ? &At(i) : nullptr; }

 private:
  std::vector<std::unique_ptr<CRecord>> records_;
};

}  // namespace orvex
