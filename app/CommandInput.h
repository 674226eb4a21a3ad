// The user's input while a command runs on the GUI thread. The command lets events through now
// and then so the window paints and the desktop sees it alive; input meant for the window would
// then start another command inside this one, so it is held, and handed back in order as soon
// as the command ends (shortcuts too, as key presses). Esc is acted on at once (the window asks
// the command to stop), and a busy cursor shows over the window once a command has run for
// about half a second.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QEvent;
class QWidget;

class CommandInput : public QObject {
public:
    CommandInput(QWidget& window, std::function<void()> onEscape);
    ~CommandInput() override;

    void Begin();
    void End();
    bool Running() const { return running_; }
    // Paint, timers and the desktop's requests go through; the window's input is held.
    void LetEventsThrough();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window_;
    std::function<void()> onEscape_;
    bool running_ = false;
    bool busyCursor_ = false;
    QElapsedTimer since_;
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> held_;
};
