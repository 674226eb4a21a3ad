// Progress bar updates that cost only what can be seen.
#include "ProgressBarSink.h"

#include <QProgressBar>

namespace {
constexpr int kPaintIntervalMs = 40;
}

ProgressBarSink::ProgressBarSink(QProgressBar& bar, std::function<void()> letEventsThrough)
    : bar_(bar), letEventsThrough_(std::move(letEventsThrough)) {
    sincePaint_.start();
}

void ProgressBarSink::SetRange(std::uint32_t upper) {
    upper_ = upper;
    // Entry counts stay far below INT_MAX (at most 2^32 / 144). A 0..0 range would turn the bar
    // into a busy indicator; an empty archive shows an empty bar instead.
    bar_.setRange(0, upper == 0 ? 1 : int(std::min<std::uint32_t>(upper, INT_MAX)));
    shownPixels_ = -1;
}

int ProgressBarSink::FilledPixels(std::uint32_t position) const {
    if (upper_ == 0)
        return 0;
    return int(std::uint64_t(std::min(position, upper_)) * std::uint64_t(bar_.width()) / upper_);
}

void ProgressBarSink::SetPosition(std::uint32_t position) {
    const int pixels = FilledPixels(position);
    const bool ends = position == 0 || position == upper_;
    if (pixels == shownPixels_ && !ends)
        return;
    shownPixels_ = pixels;
    bar_.setValue(int(std::min<std::uint32_t>(position, INT_MAX)));
    if (sincePaint_.elapsed() >= kPaintIntervalMs)
        LetWindowPaint();
}

void ProgressBarSink::LetWindowPaintIfDue() {
    if (sincePaint_.elapsed() >= kPaintIntervalMs)
        LetWindowPaint();
}

void ProgressBarSink::LetWindowPaint() {
    sincePaint_.restart();
    letEventsThrough_();
}
