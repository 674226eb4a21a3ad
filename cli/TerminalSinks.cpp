// Terminal sinks for vdat.
#include "TerminalSinks.h"

#include "EntryNames.h"

#include "DatArchive.h"
#include "Extraction.h"
#include "FileTypeIcon.h"

#include <algorithm>
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
    if (progress)
        progress->Finish();
    const ArchiveProblem none;
    const ArchiveProblem& problem = archive ? archive->Problem() : none;
    if (problem.what == ArchiveFailure::None) {
        std::string line(text);
        std::replace(line.begin(), line.end(), '\n', ' ');
        PrintLine(subject, line);
        return;
    }
    PrintProblem(subject, problem, archive->Path());
}

void PrintNoEntryNamed(std::string_view name) {
    std::fprintf(stderr, "vdat: %s '%s'\n", kNoEntryNamedText, EscapedName(name).c_str());
}

bool OpenCharset(NameReader& charset, const std::string& codePage) {
    if (codePage.empty())
        return true;
    if (charset.Open(codePage)) {
        SetNamesInUtf8(true);
        return true;
    }
    PrintLine(codePage, "unknown code page", std::strerror(errno));
    return false;
}

void PrintSummary(std::string_view text) {
    std::string line = "vdat: ";
    line.append(text).push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void PrintProblem(std::string_view subject, const ArchiveProblem& problem, std::string_view path) {
    const MessageText message = ProblemText(problem, path);
    std::string reason;
    if (problem.what == ArchiveFailure::CannotOpen)
        reason = problem.error ? std::strerror(problem.error) : "not a regular file";
    else if (problem.error)
        reason = std::strerror(problem.error);
    PrintLine(subject,
              problem.what == ArchiveFailure::CannotOpen ? message.headline : message.Joined(' '),
              reason);
}

FailureAnswer TerminalMessages::ReportFailure(const FailureReport& failure) {
    // Extraction's failures are told in the entry's own line, with what became of it.
    if (!entryLines)
        ShowMessage(failure.text, failure.caption);
    return FailureAnswer::Ok;
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
