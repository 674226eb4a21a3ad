// The archive side's sinks on a terminal: messages to stderr, the entry list to stdout through
// one large buffer, and a progress bar on stderr when it is a terminal.
#pragma once

#include "Sinks.h"

#include <cstdint>
#include <cstdio>
#include <string>

class TerminalProgress;
class DatArchive;

// Each message is one line on stderr: `vdat: SUBJECT: TEXT (REASON)`, the window's text on one
// line (its "File:" line left out: the subject names the file), with the system's reason where
// it gave one.
class TerminalMessages : public MessageSink {
public:
    void ShowMessage(std::string_view text, std::string_view caption) override;
    TerminalProgress* progress = nullptr; // its line is cleared before a message is printed
    std::string subject;                  // what the lines are about: the archive
    const DatArchive* archive = nullptr;  // asked why an open failed
    bool entryLines = false; // extraction's failure text goes into the entry's own line
};

// One line on stderr: `vdat: SUBJECT: TEXT` and ` (REASON)` when reason is not empty.
void PrintLine(std::string_view subject, std::string_view text, std::string_view reason = {});

// Buffered writer for stdout: listing 200,000 entries must not cost a system call a line.
class OutputBuffer {
public:
    explicit OutputBuffer(std::FILE* stream) : stream_(stream) { buffer_.reserve(kSize); }
    ~OutputBuffer() { Flush(); }
    void Append(std::string_view text) {
        if (buffer_.size() + text.size() > kSize)
            Flush();
        buffer_.append(text);
    }
    void Append(char c) {
        if (buffer_.size() + 1 > kSize)
            Flush();
        buffer_.push_back(c);
    }
    bool Flush();

private:
    static constexpr std::size_t kSize = 1 << 20;
    std::FILE* stream_;
    std::string buffer_;
    bool failed_ = false;
};

// Names are bytes: control characters are shown as \xHH so a name cannot move the cursor or
// break the line structure. put(std::string_view) receives the pieces.
template <typename Put> void EscapeName(std::string_view name, Put&& put) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::size_t plain = 0; // start of the run of bytes that need no escape
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte >= 0x20 && byte != 0x7F)
            continue;
        put(name.substr(plain, i - plain));
        const char escaped[4] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
        put(std::string_view(escaped, 4));
        plain = i + 1;
    }
    put(name.substr(plain));
}

std::string EscapedName(std::string_view name);

// One line per entry: NAME<TAB>SIZE-TEXT<TAB>TYPE.
class TerminalList : public ListSink {
public:
    explicit TerminalList(OutputBuffer& out) : out_(out) {}
    int AddEntry(std::string_view text, int image, int level) override;
    void SetEntryText(int index, int column, std::string_view text) override;

private:
    OutputBuffer& out_;
    int pendingImage_ = 0; // the type of the entry whose size text comes next
    int next_ = 0;
};

class TerminalProgress : public ProgressSink {
public:
    explicit TerminalProgress(bool enabled) : enabled_(enabled) {}
    ~TerminalProgress() override { Finish(); }
    void SetRange(std::uint32_t upper) override { upper_ = upper; }
    void SetPosition(std::uint32_t position) override;
    // Clears the bar's line.
    void Finish();
    // Keeps the bar where it got to and moves to the next line, as after an interruption.
    void End();

private:
    bool enabled_;
    bool drawn_ = false;
    std::uint32_t upper_ = 0;
    int lastPercent_ = -1;
};
