// Holding the window's input during a command and handing it back afterwards.
#include "CommandInput.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>
#include <QWindow>

namespace {
constexpr int kBusyCursorAfterMs = 500;

bool IsInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
        return true;
    default:
        return false;
    }
}
} // namespace

CommandInput::CommandInput(QWidget& window, std::function<void()> onEscape)
    : window_(window), onEscape_(std::move(onEscape)) {}

CommandInput::~CommandInput() {
    if (running_)
        QCoreApplication::instance()->removeEventFilter(this);
}

void CommandInput::Begin() {
    running_ = true;
    busyCursor_ = false;
    since_.start();
    QCoreApplication::instance()->installEventFilter(this);
}

void CommandInput::End() {
    QCoreApplication::instance()->removeEventFilter(this);
    running_ = false;
    if (busyCursor_)
        window_.unsetCursor();
    busyCursor_ = false;
    // Posted, not sent: they are handled by the event loop right after this command returns,
    // as if they had just arrived, and never inside it.
    for (auto& [target, event] : held_)
        if (target)
            QCoreApplication::postEvent(target, event.release());
    held_.clear();
}

void CommandInput::LetEventsThrough() {
    if (running_ && !busyCursor_ && since_.elapsed() >= kBusyCursorAfterMs) {
        window_.setCursor(Qt::WaitCursor);
        busyCursor_ = true;
    }
    // Not ExcludeUserInputEvents: on xcb that leaves the input in the platform's own queue,
    // where nothing looks for it until the next event from the X server arrives.
    QCoreApplication::processEvents();
}

bool CommandInput::eventFilter(QObject* watched, QEvent* event) {
    // Only what reaches the window itself: a message box shown meanwhile works as usual.
    if (!running_ || watched != window_.windowHandle())
        return false;
    if (event->type() == QEvent::ShortcutOverride) {
        // Claimed as an ordinary key press, so no menu shortcut starts a command inside this
        // one: the press is held below like any other and handed back afterwards.
        event->accept();
        return true;
    }
    if (!IsInput(event->type()))
        return false;
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            if (event->type() == QEvent::KeyPress && !key->isAutoRepeat() && onEscape_)
                onEscape_();
            return true;
        }
    }
    held_.emplace_back(watched, std::unique_ptr<QEvent>(event->clone()));
    return true;
}
