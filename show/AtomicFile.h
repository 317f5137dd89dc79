// Whole-file reads and crash-safe whole-file writes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvex {

enum class FileReadStatus {
  kOk,
  kMissing,     // nothing at the path (a dangling symbolic link included)
  kUnreadable,  // something is there but its bytes cannot be had: no
                // permission, not a regular file, a read error, no memory
};

struct FileRead {
  FileReadStatus status = FileReadStatus::kMissing;
  std::string bytes;
};

// Reads a regular file whole. Never throws.
FileRead ReadRegularFile(const std::string& path);
// The file's bytes, or nullopt when it is missing or unreadable.
std::optional<std::string> ReadWholeFile(const std::string& path);

// True when path names an existing file that must not be replaced: its mode
// has no write bit (the home platform's read-only attribute, honoured even
// for root) or this process may not write it.
bool IsReadOnlyFile(const std::string& path);

// Replaces the file at path with data so that a failure at any point leaves
// either the old or the new contents, never a truncated file:
// - symbolic links are followed, so the link stays a link and its target
//   gets the data;
// - the data goes to a short-named temporary file in the target's folder,
//   is flushed, renamed over the target, and the folder is flushed too, so a
//   power cut after a reported success keeps the new file;
// - an existing file keeps its mode, owner and group; one with several hard
//   links, or whose owner cannot be given to the new file, is rewritten in
//   place after its space has been reserved, so the links stay one file;
// - a read-only or non-regular target is refused.
// Returns false on any failure. Never throws.
bool WriteFileAtomically(const std::string& path, std::string_view data);

}  // namespace orvex
