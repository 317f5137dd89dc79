// How code below the interface reports messages and asks yes/no questions.
// The program installs one sink: the dialog in the desktop program, standard
// error in the command-line tool, a recorder in tests.
#pragma once

#include <string>

namespace orvex {

// The answer codes callers compare against.
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 2;
// Only from ConfirmYesNoCancel: neither, keep things as they are.
inline constexpr int kAnswerCancel = 3;

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Shows text (UTF-8); with question set, asks yes or no.
  // Returns kAnswerYes only for an explicit yes, kAnswerNo otherwise.
  virtual int Show(const std::string& text, bool question) = 0;
  // A message that asks nothing (UTF-8), from any thread. A sink may hold
  // it back until the operation that reports it has finished; by default it
  // is shown at once.
  virtual void Report(const std::string& text) { Show(text, false); }
  // A question with a third way out. A sink without one answers as Show does.
  virtual int AskYesNoCancel(const std::string& text) { return Show(text, true); }
};

// Installs the sink that ConfirmYesNo and ReportMessage use; nullptr restores the default,
// which writes to standard error and answers no. Returns the previous sink.
MessageSink* SetMessageSink(MessageSink* sink);

// Every message and yes/no question of the system goes through here.
int ConfirmYesNo(const std::string& text, bool question = false);

// A yes/no question the operator may also decline altogether: kAnswerYes,
// kAnswerNo or kAnswerCancel.
int ConfirmYesNoCancel(const std::string& text);

// Messages from inside an operation (a GO, a fade step, a file read): they
// never stop it with a box, so engine and output code report rather than
// confirm. The desktop program lists them where they take neither the
// keyboard nor the console (the status line and its notice log), in order,
// once control is back in its event loop.
void ReportMessage(const std::string& text);

// Writes each message as one line to standard error; questions answer no.
class StderrMessageSink final : public MessageSink {
 public:
  int Show(const std::string& text, bool question) override;
};

}  // namespace orvex
