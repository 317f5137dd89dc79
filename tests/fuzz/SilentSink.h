// Messages a fuzz target's input makes the code report go nowhere: a report
// is an answer, not a failure, and a box would wait for ever.
#pragma once

#include <string>

#include "show/Messages.h"

namespace orvex {

class SilentSink final : public MessageSink {
 public:
  int Show(const std::string&, bool) override { return kAnswerNo; }
};

// Installs one for the whole run.
inline void SilenceMessages() {
  static SilentSink sink;
  SetMessageSink(&sink);
}

}  // namespace orvex
