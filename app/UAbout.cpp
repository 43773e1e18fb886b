#include "app/UAbout.h"

#include "app/UDialogHook.h"
#include "app/UWindowPlacement.h"
#include "platform/UProgramInfo.h"
#include "ui_UAbout.h"

#include <QLabel>
#include <QMouseEvent>

namespace quarvex {

TfrAbout::TfrAbout(QWidget* owner) : QDialog(owner, Qt::Tool), ui(std::make_unique<Ui::TfrAbout>())
{
    ui->setupUi(this);
    setFixedSize(size());
}

TfrAbout::~TfrAbout() = default;

void TfrAbout::mouseReleaseEvent(QMouseEvent* event)
{
    // A left click on the box itself, not on one of its texts.
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint at = event->position().toPoint();
    for (const QLabel* label : findChildren<QLabel*>()) {
        const QRect text = label->geometry().intersected(
            QRect(label->pos() + label->contentsRect().topLeft(), label->sizeHint()));
        if (text.contains(at))
            return;
    }
    FormClick();
}

void ShowAbout(QWidget* owner)
{
    TfrAbout about(owner);
    about.findChild<QLabel*>("Label4")->setText("Build: " + QString::fromStdString(AppVersion));
    CentreWhenShown(about, owner ? owner->window() : nullptr);
    DialogHook().ExecModal(about);
}

} // namespace quarvex
