// The window's input during a long command, on a real X server (run-under-xvfb starts one).
// The offscreen platform hands input straight to the window; only xcb queues it the way a user's
// desktop does, so holding and handing back input is checked here, with input sent through the
// X server by xdotool and a close request sent as a window manager sends it.
#include "ArchiveBuilder.h"
#include "FakeDialogs.h"
#include "MainDialog.h"
#include "Process.h"
#include "TempDir.h"
#include "TreeListCtrl.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
        Xdotool("key F1 ctrl+o");
        QTest::qSleep(600); // the user reads the box; the command has now run past half a second
        QTimer::singleShot(0, [&] { during = dialog_->cursor().shape(); });
    };
    dialog_->CommandAction(MainDialog::ExtractAllCommand)->trigger();
    ASSERT_EQ(dialogs_.messages.size(), 1u) << "F1 was acted on inside the command";
    EXPECT_EQ(dialogs_.chooseCalls, 1) << "Ctrl+O was acted on inside the command";
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
    // The shortcut comes back after the key it followed.
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialogs_.chooseCalls == 2; }, 3000));
}

// Esc during Extract All stops it at the next entry and the window stays, the bar showing how
// far the run got; the close box stops it and then ends the window.
TEST_F(XcbInputTest, EscStopsExtractAllTheCloseBoxAlsoEndsTheWindow) {
    struct Row {
        const char* name;
        bool closeBox; // else Esc
    };
    for (const Row& row :
         {Row{.name = "Esc", .closeBox = false}, Row{.name = "close box", .closeBox = true}}) {
        SCOPED_TRACE(row.name);
        for (int i = 0; i < kEntries; ++i)
            std::remove((dir_ / ("e" + std::to_string(i))).c_str());
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
        EXPECT_EQ(dialog_->isVisible(), !row.closeBox);
        if (row.closeBox) {
            EXPECT_EQ(dialog_->result(), QDialog::Rejected);
        } else {
            EXPECT_GT(dialog_->ProgressBar().value(), 0);
            EXPECT_LT(dialog_->ProgressBar().value(), dialog_->ProgressBar().maximum());
        }
        const int written = Written();
        EXPECT_LT(written, kEntries);
        EXPECT_FALSE(Exists(dir_ / ("e" + std::to_string(kEntries - 1))));
        EXPECT_EQ(dialogs_.messages.size(), 1u); // no summary or other box on the way out
        std::cout << row.name << ": stopped after " << written << " of " << kEntries << " entries, "
                  << took.elapsed() << " ms\n";
    }
}

// Enter and keypad Enter on a row write that entry, as a double click does; the window stays.
TEST_F(XcbInputTest, EnterOnARowWritesThatEntry) {
    const struct {
        const char* key;
        int row;
        const char* file;
        const char* bytes;
    } rows[] = {{"Return", 0, "first.txt", "first"}, {"KP_Enter", 2, "e0", "entry 0"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.key);
        dialog_->EntryList().selectAndFocusRow(row.row);
        Xdotool((std::string("key ") + row.key).c_str());
        EXPECT_TRUE(QTest::qWaitFor([&] { return Exists(dir_ / row.file); }, 3000));
        EXPECT_EQ(ReadFile(dir_ / row.file), row.bytes);
        QTest::qWait(50);
        EXPECT_TRUE(dialog_->isVisible());
    }
    EXPECT_EQ(Written(), 1);
    EXPECT_TRUE(dialogs_.messages.empty());
}

// On a long run, Esc stops it within a second and the window stays; the close box ends the
// window, and no entry is left part-written under its name or a temporary one.
TEST_F(XcbInputTest, LongExtractAllStopsWithinASecond) {
    constexpr int kLong = 300000;
    {
        ArchiveBuilder b;
        for (int i = 0; i < kLong; ++i)
            b.AddStored("z" + std::to_string(i), std::to_string(i));
        WriteFile(dir_ / "300k.dat", b.Build());
    }
    dialogs_.answers.push_back(QString::fromStdString(dir_ / "300k.dat"));
    dialog_->CommandAction(MainDialog::OpenCommand)->trigger();
    ASSERT_EQ(dialog_->EntryList().rowCount(), kLong);
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Esc");
        QElapsedTimer sinceSent;
        QTimer::singleShot(300, dialog_.get(), [&] {
            if (closeBox)
                SendCloseBox(dialog_->winId());
            else
                Xdotool("key Escape");
            sinceSent.start();
        });
        dialog_->CommandAction(MainDialog::ExtractAllCommand)->trigger();
        ASSERT_TRUE(sinceSent.isValid()) << "the run ended before the key was sent";
        EXPECT_LT(sinceSent.elapsed(), 1000);
        EXPECT_EQ(dialog_->isVisible(), !closeBox);
        int written = 0;
        for (const auto& file : std::filesystem::directory_iterator(dir_.Path())) {
            const std::string name = file.path().filename().string();
            EXPECT_EQ(name.find(".vdat-"), std::string::npos) << name;
            if (name[0] != 'z')
                continue;
            ++written;
            EXPECT_TRUE(ReadFile(file.path().string()) == name.substr(1)) << name;
        }
        EXPECT_LT(written, kLong);
        std::cout << (closeBox ? "close box" : "Esc") << ": " << written << " of " << kLong
                  << " written, stopped " << sinceSent.elapsed() << " ms after the input\n";
    }
}

// The window resizes as the X server is told to (a window manager's resize or maximise): the
// list takes the room, the bar and the banner stay at the foot.
TEST_F(XcbInputTest, ResizedWindowGivesTheListTheRoom) {
    const QSize before = dialog_->size();
    const QRect list = dialog_->EntryList().geometry();
    const int bannerFromFoot = dialog_->height() - dialog_->findChild<QLabel*>("banner")->y();
    Xdotool(("windowsize " + std::to_string(dialog_->winId()) + " 700 700").c_str());
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog_->size() == QSize(700, 700); }, 3000))
        << dialog_->width() << "x" << dialog_->height();
    EXPECT_EQ(dialog_->EntryList().geometry(),
              list.adjusted(0, 0, 700 - before.width(), 700 - before.height()));
    EXPECT_EQ(dialog_->height() - dialog_->findChild<QLabel*>("banner")->y(), bannerFromFoot);
}

// At scale 2 the designed window is taller than this 768-pixel screen: it starts smaller, as wide
// as designed.
TEST(XcbStartTest, WindowStartsWithinTheScreenAtScale2) {
    std::string geometry;
    QElapsedTimer running, polled;
    running.start();
    polled.start();
    ProcessOptions options;
    options.signal = SIGTERM;
    // Ended once its window shows (or after 10 s, to fail below rather than hang).
    options.signalWhen = [&] {
        if (polled.elapsed() < 100)
            return false;
        polled.restart();
        FILE* out = popen("xdotool search --onlyvisible --name 'Velmorquin Exractor' "
                          "getwindowgeometry --shell 2>/dev/null",
                          "r");
        char line[256];
        while (out && std::fgets(line, sizeof line, out))
            geometry += line;
        if (out)
            pclose(out);
        return geometry.find("HEIGHT=") != std::string::npos || running.elapsed() > 10000;
    };
    const ProcessResult result =
        RunProcess({"/usr/bin/env", "QT_SCALE_FACTOR=2", VDAT_EXTRACTOR_BINARY}, options);
    EXPECT_EQ(result.signal, SIGTERM) << result.err;
    auto value = [&](const std::string& key) {
        const std::size_t at = geometry.find(key + "=");
        return at == std::string::npos ? -1 : std::atoi(geometry.c_str() + at + key.size() + 1);
    };
    EXPECT_EQ(value("WIDTH"), 2 * 390) << geometry;
    EXPECT_GT(value("HEIGHT"), 0) << geometry;
    EXPECT_LE(value("HEIGHT"), 768) << geometry;
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
