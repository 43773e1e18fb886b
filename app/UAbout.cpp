#include "app/UAbout.h"

#include "app/UDialogHook.h"
#include "app/UWindowPlacement.h"
#include "platform/UProgramInfo.h"
#include "ui_UAbout.h"

#include <QMouseEvent>

namespace quarvex {

TfrAbout::TfrAbout(QWidget* owner) : QDialog(owner, Qt::Tool), ui(std::make_unique<Ui::TfrAbout>())
{
    ui->setupUi(this);
    setFixedSize(size());
}

TfrAbout::~TfrAbout() = default;

void TfrAbout::mousePressEvent(QMouseEvent* event)
{
    // Only clicks that reach the box itself, not one of its labels.
    if (childAt(event->position().toPoint()) == nullptr)
        FormClick();
}

void ShowAbout(QWidget* owner)
{
    TfrAbout about(owner);
    about.findChild<QLabel*>("Label4")->setText("Build: " + QString::fromStdString(AppVersion));
    CentreOnOwner(about, owner ? owner->window() : nullptr);
    DialogHook().ExecModal(about);
}

} // namespace quarvex
