// The three narrow interfaces through which the archive side reaches the user: messages, the
// entry list and the progress bar. The window and the command line each supply their own;
// nothing below this line knows which.
#pragma once

#include <cstdint>
#include <string_view>

// An entry that could not be extracted: the message as any other (text and caption), and what
// the user needs to act on it: which entry, and why.
struct FailureReport {
    std::string_view text;
    std::string_view caption;
    std::string_view entry;  // the entry's name as stored; empty when no entry was reached
    std::string_view reason; // the system's error text, or a few words
};

// How the user answered a failure: go on, go on without asking again this run, or end the run
// after this entry.
enum class FailureAnswer { Ok, SkipAll, Stop };

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows text under caption with a single OK button; returns once the user has answered.
    virtual void ShowMessage(std::string_view text, std::string_view caption) = 0;
    // A failure during extraction. A sink that offers no choice shows it as any message.
    virtual FailureAnswer ReportFailure(const FailureReport& failure) {
        ShowMessage(failure.text, failure.caption);
        return FailureAnswer::Ok;
    }
};

class ListSink {
public:
    virtual ~ListSink() = default;
    // Adds an entry and returns the index to use with SetEntryText.
    virtual int AddEntry(std::string_view text, int image, int level) = 0;
    virtual void SetEntryText(int index, int column, std::string_view text) = 0;
};

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void SetRange(std::uint32_t upper) = 0; // the range is 0..upper
    virtual void SetPosition(std::uint32_t position) = 0;
};

// Sinks for callers that have nowhere to show a list or a progress bar.
class NullListSink final : public ListSink {
public:
    int AddEntry(std::string_view, int, int) override { return next_++; }
    void SetEntryText(int, int, std::string_view) override {}

private:
    int next_ = 0;
};

class NullProgressSink final : public ProgressSink {
public:
    void SetRange(std::uint32_t) override {}
    void SetPosition(std::uint32_t) override {}
};
