#include "show/Messages.h"

#include <atomic>
#include <cstdio>

namespace orvex {
namespace {
StderrMessageSink g_stderrSink;
std::atomic<MessageSink*> g_sink{nullptr};
}  // namespace

int StderrMessageSink::Show(const std::string& text, bool /*question*/) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  return kAnswerNo;
}

MessageSink* SetMessageSink(MessageSink* sink) {
  return g_sink.exchange(sink);
}

static MessageSink& Sink() {
  MessageSink* sink = g_sink.load();
  return sink ? *sink : g_stderrSink;
}

int ConfirmYesNo(const std::string& text, bool question) {
  return Sink().Show(text, question) == kAnswerYes ? kAnswerYes : kAnswerNo;
}

int ConfirmYesNoCancel(const std::string& text) {
  const int answer = Sink().AskYesNoCancel(text);
  return answer == kAnswerYes || answer == kAnswerCancel ? answer : kAnswerNo;
}

void ReportMessage(const std::string& text) {
  Sink().Report(text);
}

}  // namespace orvex
