// The three narrow interfaces through which the archive side reaches the user: messages, the
// entry list and the progress bar. The window, the command line and the tests each supply their
// own; nothing below this line knows which.
#pragma once

#include <cstdint>
#include <string_view>

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows text under caption with a single OK button; returns once the user has answered.
    virtual void ShowMessage(std::string_view text, std::string_view caption) = 0;
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
