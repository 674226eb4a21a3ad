// A stand-in for the file dialog and message boxes: answers from a script and records what the
// window showed, so no test ever waits for a person.
#pragma once

#include "UserDialogs.h"

#include <QDialog>
#include <QProgressBar>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <functional>
#include <vector>

struct ShownMessage {
    QString text;
    QString caption;
    int progressValue = -1; // the progress bar at the moment the box was shown
    QString detail;         // failure boxes: the entry and the reason
    bool choices = false;   // failure boxes: OK, Skip All and Stop rather than OK alone
};

class FakeDialogs : public UserDialogs {
public:
    QString ChooseArchive(QWidget*) override {
        ++chooseCalls;
        if (answers.empty())
            return {};
        QString next = answers.front();
        answers.pop_front();
        return next;
    }
    void ShowMessage(QWidget*, const QString& text, const QString& caption) override {
        messages.push_back({text, caption, progress ? progress->value() : -1, {}, false});
        if (onMessage)
            onMessage();
    }
    FailureAnswer ShowFailure(QWidget*, const QString& text, const QString& caption,
                              const QString& detail, bool choices) override {
        messages.push_back({text, caption, progress ? progress->value() : -1, detail, choices});
        if (onMessage)
            onMessage();
        if (failureAnswers.empty())
            return FailureAnswer::Ok;
        const FailureAnswer answer = failureAnswers.front();
        failureAnswers.pop_front();
        return answer;
    }
    int RunModal(QDialog& dialog) override {
        modalTitles.push_back(dialog.windowTitle());
        if (onModal)
            onModal(dialog);
        return QDialog::Accepted;
    }

    QString ChooseFolder(QWidget*, const QString& start) override {
        folderStarts << start;
        if (folderAnswers.empty())
            return {};
        QString next = folderAnswers.front();
        folderAnswers.pop_front();
        return next;
    }
    ExistingFilesAnswer AskExistingFiles(QWidget*, const QString& text) override {
        existingQuestions << text;
        return existingAnswer;
    }
    bool OpenWithDesktop(const QUrl& url) override {
        opened.push_back(url);
        return true;
    }

    std::deque<QString> answers;              // an empty answer is a cancelled dialog
    std::deque<FailureAnswer> failureAnswers; // then OK
    std::vector<ShownMessage> messages;
    QStringList modalTitles;
    std::function<void(QDialog&)> onModal;
    std::function<void()> onMessage; // runs while the box would be open
    QProgressBar* progress = nullptr;
    int chooseCalls = 0;
    std::deque<QString> folderAnswers; // for the folder dialog, as answers
    QStringList folderStarts;
    ExistingFilesAnswer existingAnswer = ExistingFilesAnswer::Replace;
    QStringList existingQuestions;
    QList<QUrl> opened;
};
