// The archive side's sinks on a terminal: messages to stderr, the entry list to stdout through
// one large buffer, and a progress bar on stderr when it is a terminal.
#pragma once

#include "Sinks.h"
#include "Texts.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

class TerminalProgress;
class DatArchive;

// Each message is one line on stderr: `vdat: SUBJECT: TEXT (REASON)`, the window's text on one
// line (its "File:" line left out: the subject names the file), with the system's reason where
// it gave one.
class TerminalMessages : public MessageSink {
public:
    void ShowMessage(std::string_view text, std::string_view caption) override;
    FailureAnswer ReportFailure(const FailureReport& failure) override;
    TerminalProgress* progress = nullptr; // its line is cleared before a message is printed
    std::string subject;                  // what the lines are about: the archive
    const DatArchive* archive = nullptr;  // asked what its messages are about
    bool entryLines = false; // extraction's failure text goes into the entry's own line
};

// One line on stderr: `vdat: SUBJECT: TEXT` and ` (REASON)` when reason is not empty.
void PrintLine(std::string_view subject, std::string_view text, std::string_view reason = {});
// A summary line on stderr: `vdat: TEXT`.
void PrintSummary(std::string_view text);
// The line of a problem with the archive at path as a whole: the window's message on one line
// (its "File:" line left out: the subject names the file), with the system's reason.
void PrintProblem(std::string_view subject, const ArchiveProblem& problem, std::string_view path);
// `vdat: no entry named 'NAME'`, for a NAME that matched nothing.
void PrintNoEntryNamed(std::string_view name);
// Reads names in codePage from now on (none: as stored); false, told, when iconv does not know
// it.
class NameReader;
bool OpenCharset(NameReader& charset, const std::string& codePage);

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

// The length of the well-formed UTF-8 sequence that text starts with, its code point in code; 0
// when it starts with none.
inline std::size_t Utf8Sequence(std::string_view text, char32_t& code) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range: no overlong or surrogate
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || text.size() < length || at(1) < low || at(1) > high)
        return 0;
    code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((at(i) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (at(i) & 0x3F);
    }
    return length;
}

// Whether names reach the terminal read in a code page, as UTF-8 (--charset), rather than as the
// stored bytes. Set once, before anything is shown.
void SetNamesInUtf8(bool on);
bool NamesInUtf8();

// Names are bytes, shown as stored or, after --charset, in UTF-8. What a terminal could take for a
// control or a change of direction is shown as \xHH, so a name cannot move the cursor, break the
// line or reorder it: bytes below 0x20 and 0x7F; each byte of a C1 control (U+0080-U+009F) or a
// bidi embedding, override or isolate (U+202A-U+202E, U+2066-U+2069) in UTF-8; 0x80-0x9F outside
// well-formed UTF-8, and anywhere in stored bytes, which an 8-bit terminal takes for C1 controls.
// put(std::string_view) gets the pieces.
template <typename Put> void EscapeName(std::string_view name, Put&& put) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::size_t plain = 0; // start of the run of bytes that need no escape
    for (std::size_t i = 0;;) {
        // Most names are all printable ASCII: a tight loop passes them.
        while (i < name.size() && static_cast<unsigned char>(name[i] - 0x20) < 0x5F)
            ++i;
        if (i == name.size())
            break;
        const auto byte = static_cast<unsigned char>(name[i]);
        std::size_t length = 1; // of the bytes at i that go together
        bool escape = byte < 0x80;
        if (!escape) {
            char32_t code = 0;
            length = Utf8Sequence(name.substr(i), code);
            if (length == 0) {
                length = 1;
                escape = byte < 0xA0;
            } else {
                escape = code < 0xA0 || (code >= 0x202A && code <= 0x202E) ||
                         (code >= 0x2066 && code <= 0x2069);
            }
        }
        if (!escape && !NamesInUtf8()) {
            // Stored bytes: a harmless character's bytes 0x80-0x9F alone.
            for (const std::size_t end = i + length; i < end; ++i) {
                const auto value = static_cast<unsigned char>(name[i]);
                if (value >= 0xA0)
                    continue;
                put(name.substr(plain, i - plain));
                const char escaped[4] = {'\\', 'x', kHex[value >> 4], kHex[value & 15]};
                put(std::string_view(escaped, 4));
                plain = i + 1;
            }
            continue;
        }
        if (!escape) {
            i += length;
            continue;
        }
        put(name.substr(plain, i - plain));
        for (const std::size_t end = i + length; i < end; ++i) {
            const auto value = static_cast<unsigned char>(name[i]);
            const char escaped[4] = {'\\', 'x', kHex[value >> 4], kHex[value & 15]};
            put(std::string_view(escaped, 4));
        }
        plain = i;
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
