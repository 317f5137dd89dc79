// How code below the interface reports messages and asks yes/no questions.
// The program installs one sink: the dialog in the desktop program, standard
// error in the command-line tool, a recorder in tests.
#pragma once

#include <string>

namespace orvex {

// The answer codes callers compare against.
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 2;

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Shows text (UTF-8); with question set, asks yes or no.
  // Returns kAnswerYes only for an explicit yes, kAnswerNo otherwise.
  virtual int Show(const std::string& text, bool question) = 0;
};

// Installs the sink that ConfirmYesNo uses; nullptr restores the default,
// which writes to standard error and answers no. Returns the previous sink.
MessageSink* SetMessageSink(MessageSink* sink);

// Every message and yes/no question of the system goes through here.
int ConfirmYesNo(const std::string& text, bool question = false);

// Writes each message as one line to standard error; questions answer no.
class StderrMessageSink final : public MessageSink {
 public:
  int Show(const std::string& text, bool question) override;
};

}  // namespace orvex
