// The notes of the status line's message pane, one per cause: each is set
// while its cause lasts and cleared when it ends; with none the pane says
// "レディ".
#pragma once

namespace orvex {

enum class StatusNote {
  kShowLoad,     // the last Open failed: the previous show is still in place
  kSave,         // a Save was postponed by a fade
  kShowReport,   // what the opened show lacks (missing files, skipped lines)
  kLateFile,     // a channel's file is slow to come
  kMissingFile,  // a channel's file could not be opened
  kNotice,       // the latest message in the notice log, until it is read
};

}  // namespace orvex
