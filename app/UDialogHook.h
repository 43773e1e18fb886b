// Every message box, file or folder dialog, web page and modal window of the
// desktop program goes through this hook, so that tests can answer them
// without a person. The default hook shows the real Qt dialogs.
#pragma once

#include <QString>
#include <QStringList>
#include <exception>

class QDialog;
class QWidget;

namespace quarvex {

enum class TMessageKind { Error, Warning, Critical };

class TDialogHook {
public:
    virtual ~TDialogHook() = default;
    // A modal box with one OK button.
    virtual void Message(QWidget* owner, TMessageKind kind, const QString& text);
    // One existing file, or empty when the user cancels. The dialog starts
    // in folder (empty: where Qt starts it) and shows each filter by its
    // name alone, without the patterns the name already gives.
    virtual QString OpenFileName(QWidget* owner, const QString& title, const QString& filter,
                                 const QString& folder);
    // Several existing files in the dialog's order; empty when cancelled.
    virtual QStringList OpenFileNames(QWidget* owner, const QString& title, const QString& filter);
    // A folder, or empty when cancelled. The browser is centred on the
    // screen's available area by CentredPosition.
    virtual QString BrowseForFolder(QWidget* owner, const QString& title);
    // Asks the desktop to show the address in the default browser; false
    // when no browser could be started.
    virtual bool OpenUrl(const QString& address);
    // Runs the modal loop of a window and returns its result; tests use
    // this to act on the window while it is shown.
    virtual int ExecModal(QDialog& window);
};

// The hook in use; never null.
TDialogHook& DialogHook();
// Replaces the hook (null restores the default); the caller keeps ownership.
void SetDialogHook(TDialogHook* hook);

// The general error report: the message in a critical box.
void ShowErrorMessage(QWidget* owner, const QString& message);

} // namespace quarvex

namespace quarvex {

// Runs action and shows any error it raises with ShowErrorMessage: the
// general error handler around every command of the desktop program.
template <class TAction>
void RunGuarded(QWidget* owner, TAction&& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        ShowErrorMessage(owner, QString::fromUtf8(e.what()));
    }
}

} // namespace quarvex
