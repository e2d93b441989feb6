#pragma once
// A message presenter for tests: records every text and answers from a list (OK for plain messages;
// for questions the next queued answer, No when none is left).

#include "base/data_folder.h"
#include "base/message_box.h"

#include <deque>
#include <string>
#include <vector>

namespace kestrelle::testing {

class MessageRecorder final : public MessagePresenter {
public:
    int show(const std::string& text, unsigned flags) override {
        texts.push_back(text);
        if ((flags & 0x0F) != 0x04) return MessageAnswer::kOk;
        if (answers.empty()) return MessageAnswer::kNo;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<std::string> texts;
    std::deque<int> answers;
};

}  // namespace kestrelle::testing
