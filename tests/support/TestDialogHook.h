// A dialog hook that answers the desktop program's dialogs without a
// person: queued answers for file and folder dialogs, recorded messages and
// web addresses, and a test's own action on each modal window.
#pragma once

#include "app/UDialogHook.h"

#include <QDialog>
#include <QTimer>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace quarvex::test {

struct TShownMessage {
    TMessageKind Kind;
    std::string Text;
};

class TTestDialogHook : public TDialogHook {
public:
    TTestDialogHook() { SetDialogHook(this); }
    ~TTestDialogHook() override { SetDialogHook(nullptr); }

    void Message(QWidget*, TMessageKind kind, const QString& text) override
    {
        Messages.push_back({kind, text.toStdString()});
    }
    QString OpenFileName(QWidget*, const QString&, const QString&, const QString& folder) override
    {
        OpenFolders.push_back(folder.toStdString());
        return Next(OpenAnswers);
    }
    QStringList OpenFileNames(QWidget*, const QString&, const QString&) override
    {
        QStringList files;
        if (!MultiOpenAnswers.empty()) {
            files = MultiOpenAnswers.front();
            MultiOpenAnswers.pop_front();
        }
        return files;
    }
    QString BrowseForFolder(QWidget*, const QString& title) override
    {
        BrowseTitles.push_back(title.toStdString());
        return Next(FolderAnswers);
    }
    bool OpenUrl(const QString& address) override
    {
        Urls.push_back(address.toStdString());
        return BrowserStarts;
    }
    // Calls OnModal every 20 ms while the window is open, until it returns
    // true; without OnModal the window is closed at once.
    int ExecModal(QDialog& window) override
    {
        ++ModalCount;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, &window, [&] {
            if (!OnModal) {
                poll.stop();
                window.done(0);
            } else if (OnModal(window)) {
                poll.stop();
            }
        });
        poll.start();
        return window.exec();
    }

    std::function<bool(QDialog&)> OnModal;
    std::deque<QString> OpenAnswers;
    std::vector<std::string> OpenFolders; // where each open dialog started
    bool BrowserStarts = true;
    std::deque<QStringList> MultiOpenAnswers;
    std::deque<QString> FolderAnswers;
    std::vector<TShownMessage> Messages;
    std::vector<std::string> Urls;
    std::vector<std::string> BrowseTitles;
    int ModalCount = 0;

private:
    static QString Next(std::deque<QString>& answers)
    {
        if (answers.empty())
            return {};
        QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

} // namespace quarvex::test
