// Whole-file reads and crash-safe whole-file writes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// The file's bytes, or nullopt when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Writes data to a temporary file beside path and renames it over path only
// when everything was written and flushed, so a failure never leaves a
// truncated file. An existing file keeps its permissions; a symbolic link is
// followed so the link stays a link. Returns false on any failure.
bool WriteFileAtomically(const std::string& path, std::string_view data);

}  // namespace orvex
