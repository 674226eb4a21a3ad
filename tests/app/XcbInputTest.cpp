// The window's input during a long command, on a real X server (run-under-xvfb starts one).
// The offscreen platform hands input straight to the window; only xcb queues it the way a user's
// desktop does, so holding and handing back input is checked here, with input sent through the
// X server by xdotool and a close request sent as a window manager sends it.
#include "ArchiveBuilder.h"
#include "FakeDialogs.h"
#include "MainDialog.h"
#include "TempDir.h"
#include "TreeListCtrl.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {
constexpr int kEntries = 20000;

// An archive whose second entry fails: its box is where the test acts, while the run holds.
std::string LongArchive() {
    ArchiveBuilder b;
    b.AddStored("first.txt", "first");
    b.AddStored("..\\outside.txt", "refused");
    for (int i = 0; i < kEntries; ++i)
        b.AddStored("e" + std::to_string(i), "entry " + std::to_string(i));
    return b.Build();
}

void Xdotool(const char* arguments) {
    const std::string command = std::string("xdotool ") + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// What a window manager sends when the user clicks the close box.
void SendCloseBox(WId window) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(c), 0);
    auto atom = [c](const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return a;
    };
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(window);
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    // Checked, so the server has taken the request before this connection goes away.
    xcb_generic_error_t* error = xcb_request_check(
        c, xcb_send_event_checked(c, 0, xcb_window_t(window), XCB_EVENT_MASK_NO_EVENT,
                                  reinterpret_cast<const char*>(&event)));
    EXPECT_EQ(error, nullptr);
    std::free(error);
    xcb_disconnect(c);
}

class XcbInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousDir_ = QDir::currentPath();
        WriteFile(dir_ / "long.dat", LongArchive());
        dialog_ = std::make_unique<MainDialog>(dialogs_);
        dialogs_.progress = &dialog_->ProgressBar();
        dialog_->show();
        dialog_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
        dialogs_.answers.push_back(QString::fromStdString(dir_ / "long.dat"));
        dialog_->CommandAction(MainDialog::OpenCommand)->trigger();
        ASSERT_EQ(dialog_->EntryList().rowCount(), kEntries + 2);
    }
    void TearDown() override {
        dialog_.reset();
        QDir::setCurrent(previousDir_);
    }
    int Written() {
        int written = 0;
        for (int i = 0; i < kEntries; ++i)
            written += Exists(dir_ / ("e" + std::to_string(i)));
        return written;
    }

    TempDir dir_;
    FakeDialogs dialogs_;
    std::unique_ptr<MainDialog> dialog_;
    QString previousDir_;
};

// A key pressed during a command is held, not acted on inside it, and handled as soon as the
// command ends, with no further input to wake it. A busy cursor shows once the command has run
// for half a second, and goes when it ends.
TEST_F(XcbInputTest, InputDuringACommandIsHandledAsSoonAsItEnds) {
    Qt::CursorShape during = Qt::ArrowCursor;
    dialogs_.onMessage = [&] {
        if (dialogs_.messages.size() != 1)
            return;
        Xdotool("key F1");
        QTest::qSleep(600); // the user reads the box; the command has now run past half a second
        QTimer::singleShot(0, [&] { during = dialog_->cursor().shape(); });
    };
    dialog_->CommandAction(MainDialog::ExtractAllCommand)->trigger();
    ASSERT_EQ(dialogs_.messages.size(), 1u) << "F1 was acted on inside the command";
    EXPECT_EQ(during, Qt::WaitCursor);
    EXPECT_EQ(dialog_->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(Written(), kEntries);

    QElapsedTimer waited;
    waited.start();
    while (dialogs_.messages.size() < 2 && waited.elapsed() < 3000)
        QTest::qWait(10);
    ASSERT_EQ(dialogs_.messages.size(), 2u) << "F1 was still held 3 s after the command";
    EXPECT_EQ(dialogs_.messages[1].caption, "Help");
    EXPECT_LT(waited.elapsed(), 500);
}

// Esc and the close box during Extract All stop it at the next entry, then end the window.
TEST_F(XcbInputTest, EscAndTheCloseBoxStopExtractAllAndEndTheWindow) {
    struct Row {
        const char* name;
        bool closeBox; // else Esc
    };
    for (const Row& row :
         {Row{.name = "Esc", .closeBox = false}, Row{.name = "close box", .closeBox = true}}) {
        SCOPED_TRACE(row.name);
        if (!dialog_->isVisible()) {
            dialog_->show();
            dialog_->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
            QDir::setCurrent(QString::fromStdString(dir_.Path()));
            for (int i = 0; i < kEntries; ++i)
                std::remove((dir_ / ("e" + std::to_string(i))).c_str());
        }
        dialogs_.messages.clear();
        dialogs_.onMessage = [&] {
            if (row.closeBox)
                SendCloseBox(dialog_->winId());
            else
                Xdotool("key Escape");
        };
        QElapsedTimer took;
        took.start();
        dialog_->CommandAction(MainDialog::ExtractAllCommand)->trigger();
        EXPECT_FALSE(dialog_->isVisible());
        EXPECT_EQ(dialog_->result(), QDialog::Rejected);
        const int written = Written();
        EXPECT_LT(written, kEntries);
        EXPECT_FALSE(Exists(dir_ / ("e" + std::to_string(kEntries - 1))));
        EXPECT_EQ(dialogs_.messages.size(), 1u); // no summary or other box on the way out
        std::cout << row.name << ": stopped after " << written << " of " << kEntries << " entries, "
                  << took.elapsed() << " ms\n";
    }
}
} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // Thousands of small files: in memory, so this times input handling, not the disk.
    if (::access("/dev/shm", W_OK) == 0)
        setenv("TMPDIR", "/dev/shm", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
