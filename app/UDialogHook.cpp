#include "app/UDialogHook.h"

#include "app/UWindowPlacement.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>

namespace quarvex {

namespace {
TDialogHook defaultHook;
TDialogHook* currentHook = &defaultHook;

QString BoxTitle(TMessageKind kind)
{
    switch (kind) {
    case TMessageKind::Error: return QStringLiteral("Error");
    case TMessageKind::Warning: return QStringLiteral("Warning");
    case TMessageKind::Critical: return QStringLiteral("Quarvex");
    }
    return {};
}
} // namespace

void TDialogHook::Message(QWidget* owner, TMessageKind kind, const QString& text)
{
    const QMessageBox::Icon icon = kind == TMessageKind::Warning ? QMessageBox::Warning : QMessageBox::Critical;
    QMessageBox box(icon, BoxTitle(kind), text, QMessageBox::Ok, owner);
    box.exec();
}

QString TDialogHook::OpenFileName(QWidget* owner, const QString& title, const QString& filter, const QString& folder)
{
    return QFileDialog::getOpenFileName(owner, title, folder, filter, nullptr, QFileDialog::HideNameFilterDetails);
}

QStringList TDialogHook::OpenFileNames(QWidget* owner, const QString& title, const QString& filter)
{
    return QFileDialog::getOpenFileNames(owner, title, QString(), filter, nullptr, QFileDialog::HideNameFilterDetails);
}

QString TDialogHook::BrowseForFolder(QWidget* owner, const QString& title)
{
    QFileDialog browser(owner, title);
    browser.setFileMode(QFileDialog::Directory);
    browser.setOption(QFileDialog::ShowDirsOnly);
    browser.setOption(QFileDialog::DontUseNativeDialog);
    browser.adjustSize();
    if (const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen())
        browser.move(CentredPosition(screen->availableGeometry().size(), browser.frameGeometry().size()));
    if (browser.exec() != QDialog::Accepted || browser.selectedFiles().isEmpty())
        return {};
    return browser.selectedFiles().first();
}

bool TDialogHook::OpenUrl(const QString& address)
{
    return QDesktopServices::openUrl(QUrl(address));
}

int TDialogHook::ExecModal(QDialog& window)
{
    return window.exec();
}

TDialogHook& DialogHook()
{
    return *currentHook;
}

void SetDialogHook(TDialogHook* hook)
{
    currentHook = hook ? hook : &defaultHook;
}

void ShowErrorMessage(QWidget* owner, const QString& message)
{
    DialogHook().Message(owner, TMessageKind::Critical, message);
}

} // namespace quarvex
