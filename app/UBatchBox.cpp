#include "app/UBatchBox.h"

#include "app/UDialogHook.h"
#include "app/UDroppedFiles.h"
#include "app/UWindowPlacement.h"
#include "ui_UBatchBox.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>

namespace quarvex {

TfrBatch::TfrBatch(QWidget* owner) : QDialog(owner), ui(std::make_unique<Ui::TfrBatch>())
{
    ui->setupUi(this);
    setFixedSize(size());
    setAcceptDrops(true);
    UpdateProjectionControls();
    for (int zone = 1; zone <= 60; ++zone)
        ui->ComboZone->addItem("Zone " + QString::number(zone));
    ui->ComboZone->setMaxVisibleItems(20);
    ui->ComboZone->setCurrentIndex(11);
    connect(ui->ComboProjection, &QComboBox::currentIndexChanged, this, &TfrBatch::UpdateProjectionControls);
    connect(ui->Button1, &QPushButton::clicked, this, &TfrBatch::Button1Click);
    connect(ui->Button2, &QPushButton::clicked, this, &TfrBatch::Button2Click);
    connect(ui->Button3, &QPushButton::clicked, this, &TfrBatch::Button3Click);
    connect(ui->Button4, &QPushButton::clicked, this, &TfrBatch::Button4Click);
    connect(ui->Button5, &QPushButton::clicked, this, &TfrBatch::Button5Click);
    connect(ui->Button6, &QPushButton::clicked, this, &TfrBatch::Button6Click);
    connect(ui->ListBox1, &QListWidget::itemClicked, this, &TfrBatch::ListBox1Click);
    // A file chosen with the keyboard is chosen as by a click.
    connect(ui->ListBox1, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            ListBox1Click();
    });
    // The dialog has no default button: Return does not press one.
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
}

TfrBatch::~TfrBatch() = default;

void TfrBatch::UpdateProjectionControls()
{
    const bool utm = ui->ComboProjection->currentIndex() == 1;
    ui->ComboZone->setVisible(utm);
    ui->ComboHemisphere->setVisible(utm);
}

void TfrBatch::AddFile(const QString& path)
{
    if (!IsKmlOrKmzName(path))
        return;
    if (ui->ListBox1->count() >= MaxBatchFiles)
        return;
    for (int i = 0; i < ui->ListBox1->count(); ++i)
        if (ui->ListBox1->item(i)->text().compare(path, Qt::CaseInsensitive) == 0)
            return;
    ui->ListBox1->addItem(path);
}

void TfrBatch::AddDialogFiles(const QStringList& files)
{
    for (const QString& file : files)
        AddFile(file);
}

void TfrBatch::Button1Click()
{
    AddDialogFiles(DialogHook().OpenFileNames(this, "Add Files", "Google Earth Files (*.KML, *.KMZ) (*.KML *.KMZ *.kml *.kmz)"));
}

void TfrBatch::Button2Click()
{
    int i = ui->ListBox1->currentRow();
    if (i < 0 || !ui->ListBox1->currentItem()->isSelected())
        return;
    delete ui->ListBox1->takeItem(i);
    if (i >= ui->ListBox1->count())
        i = i - 1;
    if (i >= 0)
        ui->ListBox1->setCurrentRow(i);
    else
        ui->ListBox1->clearSelection();
    ui->Button2->setEnabled(i >= 0);
}

void TfrBatch::Button3Click()
{
    ui->ListBox1->clear();
    ui->Button2->setEnabled(false);
}

void TfrBatch::Button4Click()
{
    if (ui->ListBox1->count() == 0)
        DialogHook().Message(this, TMessageKind::Error, "Add some files to process");
}

void TfrBatch::Button6Click()
{
    const QString folder = DialogHook().BrowseForFolder(this, "Select a folder");
    if (!folder.isEmpty())
        ui->Edit1->setText(folder);
}

void TfrBatch::ListBox1Click()
{
    ui->Button2->setEnabled(true);
}

void TfrBatch::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedLocalFiles(*event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TfrBatch::dropEvent(QDropEvent* event)
{
    const QStringList files = DroppedLocalFiles(*event->mimeData());
    if (files.isEmpty())
        return;
    activateWindow();
    raise();
    for (const QString& file : files)
        AddFile(file);
    event->acceptProposedAction();
}

void ShowBatchDialog(QWidget* owner)
{
    TfrBatch dialog(owner);
    CentreWhenShown(dialog, owner ? owner->window() : nullptr);
    DialogHook().ExecModal(dialog);
}

} // namespace quarvex
