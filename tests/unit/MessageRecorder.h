// Captures the messages code reports, answering questions from a script.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "show/Messages.h"

namespace orvex {

class MessageRecorder : public MessageSink {
 public:
  MessageRecorder() { previous_ = SetMessageSink(this); }
  ~MessageRecorder() override { SetMessageSink(previous_); }

  int Show(const std::string& text, bool question) override {
    messages.push_back(text);
    if (!question || answers.empty()) return kAnswerNo;
    int a = answers.front();
    answers.pop_front();
    return a;
  }

  std::vector<std::string> messages;
  std::deque<int> answers;

 private:
  MessageSink* previous_ = nullptr;
};

}  // namespace orvex
