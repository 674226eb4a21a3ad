// Terminal sinks for vdat.
#include "TerminalSinks.h"

#include "DatArchive.h"
#include "Extraction.h"
#include "FileTypeIcon.h"

#include <cerrno>
#include <cstring>

void PrintLine(std::string_view subject, std::string_view text, std::string_view reason) {
    std::string line = "vdat: " + EscapedName(subject) + ": " + EscapedName(text);
    if (!reason.empty())
        line.append(" (").append(reason).append(")");
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void TerminalMessages::ShowMessage(std::string_view text, std::string_view) {
    if (entryLines && text == kExtractFailedText)
        return;
    if (progress)
        progress->Finish();
    std::string joined;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.rfind("File:", 0) != 0)
            joined.append(joined.empty() ? "" : " ").append(line);
        start = end + 1;
    }
    std::string reason;
    if (text.rfind("Can`t open DAT file!", 0) == 0 && archive)
        reason = archive->OpenError() ? std::strerror(archive->OpenError()) : "not a regular file";
    else if (text.rfind("Can`t creat Memory!", 0) == 0)
        reason = std::strerror(ENOMEM);
    PrintLine(subject, joined, reason);
}

bool OutputBuffer::Flush() {
    if (!buffer_.empty() &&
        std::fwrite(buffer_.data(), 1, buffer_.size(), stream_) != buffer_.size())
        failed_ = true;
    buffer_.clear();
    if (std::fflush(stream_) != 0)
        failed_ = true;
    return !failed_;
}

namespace {
bool namesInUtf8 = false;
} // namespace

void SetNamesInUtf8(bool on) {
    namesInUtf8 = on;
}

bool NamesInUtf8() {
    return namesInUtf8;
}

std::string EscapedName(std::string_view name) {
    std::string out;
    EscapeName(name, [&](std::string_view piece) { out.append(piece); });
    return out;
}

int TerminalList::AddEntry(std::string_view text, int image, int) {
    // The line is written as it comes: the name now, its size text and type next.
    EscapeName(text, [this](std::string_view piece) { out_.Append(piece); });
    out_.Append('\t');
    pendingImage_ = image;
    return next_++;
}

void TerminalList::SetEntryText(int, int column, std::string_view text) {
    if (column != 1)
        return;
    out_.Append(text);
    out_.Append('\t');
    out_.Append(FileTypeLabel(FileTypeIcon(pendingImage_)));
    out_.Append('\n');
}

void TerminalProgress::SetPosition(std::uint32_t position) {
    if (!enabled_ || upper_ == 0)
        return;
    const int percent = int(std::uint64_t(position) * 100 / upper_);
    if (percent == lastPercent_)
        return;
    lastPercent_ = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%% %u/%u", filled,
                 "########################################", kWidth - filled, "", percent,
                 unsigned(position), unsigned(upper_));
    std::fflush(stderr);
    drawn_ = true;
}

void TerminalProgress::Finish() {
    if (drawn_)
        std::fputs("\r\033[K", stderr);
    drawn_ = false;
    lastPercent_ = -1;
}

void TerminalProgress::End() {
    if (drawn_)
        std::fputc('\n', stderr);
    drawn_ = false;
    lastPercent_ = -1;
}
