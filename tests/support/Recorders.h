// Sinks that record what the archive side showed, for tests.
#pragma once

#include "Sinks.h"

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

struct RecordedMessage {
    std::string text;
    std::string caption;
    bool operator==(const RecordedMessage&) const = default;
};

// Failures are recorded as messages too, and answered from `answers` (then OK).
class MessageRecorder : public MessageSink {
public:
    struct Failure {
        std::string entry;
        std::string reason;
    };
    void ShowMessage(std::string_view text, std::string_view caption) override {
        messages.push_back({std::string(text), std::string(caption)});
    }
    FailureAnswer ReportFailure(const FailureReport& failure) override {
        ShowMessage(failure.text, failure.caption);
        failures.push_back({std::string(failure.entry), std::string(failure.reason)});
        if (answers.empty())
            return FailureAnswer::Ok;
        const FailureAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<RecordedMessage> messages;
    std::vector<Failure> failures;
    std::deque<FailureAnswer> answers;
};

class ListRecorder : public ListSink {
public:
    struct Row {
        std::string name;
        int image = -1;
        int level = -1;
        std::string sizeText;
    };
    int AddEntry(std::string_view text, int image, int level) override {
        rows.push_back({std::string(text), image, level, {}});
        return int(rows.size() - 1);
    }
    void SetEntryText(int index, int column, std::string_view text) override {
        if (column == 1)
            rows.at(std::size_t(index)).sizeText = text;
    }
    std::vector<Row> rows;
};

class ProgressRecorder : public ProgressSink {
public:
    void SetRange(std::uint32_t upper) override { range = upper; }
    void SetPosition(std::uint32_t position) override {
        this->position = position;
        positions.push_back(position);
    }
    std::uint32_t range = 0;
    std::uint32_t position = 0;
    std::vector<std::uint32_t> positions;
};
