// The batch dialog: gathers up to 20 KML and KMZ files (open dialog or
// dropped from the desktop), a destination folder and the export options.
// It converts nothing; "Start Transformation" only checks the list.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TfrBatch;
}

namespace quarvex {

constexpr int MaxBatchFiles = 20;

class TfrBatch : public QDialog {
    Q_OBJECT
public:
    explicit TfrBatch(QWidget* owner = nullptr);
    ~TfrBatch() override;

    // Appends path when its last extension is .KML or .KMZ (any case), the
    // list does not hold it yet (compared without regard to case) and holds
    // fewer than MaxBatchFiles entries; anything else is ignored silently.
    void AddFile(const QString& path);
    void AddDialogFiles(const QStringList& files);
    // The zone and hemisphere lists show exactly while UTM is chosen.
    void UpdateProjectionControls();

    void Button1Click(); // Add Files
    void Button2Click(); // Remove File
    void Button3Click(); // Clear All
    void Button4Click(); // Start Transformation
    void Button5Click() { close(); }
    void Button6Click(); // the folder browser
    void ListBox1Click();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    std::unique_ptr<Ui::TfrBatch> ui;
};

// Shows a new batch dialog modally, centred on owner.
void ShowBatchDialog(QWidget* owner);

} // namespace quarvex
