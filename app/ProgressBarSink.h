// The progress bar as the archive side's progress sink. A million positions must not cost a
// million repaints: the bar is only touched when its filled width changes. Long commands run
// to completion on the GUI thread, so the sink also lets the window's events through now and then
// (its owner says how), so the desktop never sees a frozen window.
#pragma once

#include "Sinks.h"

#include <QElapsedTimer>

#include <functional>

class QProgressBar;

class ProgressBarSink : public ProgressSink {
public:
    ProgressBarSink(QProgressBar& bar, std::function<void()> letEventsThrough);
    void SetRange(std::uint32_t upper) override;
    void SetPosition(std::uint32_t position) override;
    // For work between two positions that takes long (one large entry): paints if it is time.
    void LetWindowPaintIfDue();

private:
    int FilledPixels(std::uint32_t position) const;
    void LetWindowPaint();

    QProgressBar& bar_;
    std::uint32_t upper_ = 0;
    int shownPixels_ = -1;
    QElapsedTimer sincePaint_;
    std::function<void()> letEventsThrough_;
};
