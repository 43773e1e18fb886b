// TfrMain, the main window: start-up, the open command that converts a KML
// or KMZ file and puts its layers on the map, the status bar, the export
// reminders, the help menu and the map page with its layer check boxes.
#pragma once

#include "kml/kmz/UUnZip.h"
#include "platform/UWorkFolderLock.h"
#include "preview/UMapView.h"

#include <QImage>
#include <QWidget>
#include <memory>

class QCheckBox;
class QKeySequence;
class QMenu;

namespace Ui {
class TfrMain;
}

namespace quarvex {

class TfrMain : public QWidget {
    Q_OBJECT
public:
    explicit TfrMain(QWidget* parent = nullptr);
    ~TfrMain() override;

    // The designed place and outer size of the window, at 96 dots per inch.
    static constexpr QPoint kDesignedPosition{465, 225};
    static constexpr QSize kDesignedFrame{684, 493};
    // Puts the window at its designed place, moved (and only when it must
    // be, shrunk) to lie inside the screen's available area.
    void PlaceOnScreen();

    // The open command: the open dialog, then OpenFile on the chosen file.
    void SpeedButton1Click();
    // The open command from its second step on, for a file already chosen
    // (the open dialog, a file dropped on the window, or one handed over on
    // the command line). A job that stops on an error ends the command there.
    void OpenFile(const QString& fileName);
    void SpeedButton2Click() { ExportReminder(); } // Export SHP
    void SpeedButton4Click() { ExportReminder(); } // DXF/GPX
    void SpeedButton3Click();                      // Help: pops up PopupMenu1
    void SpeedButton5Click();                      // Batch Processing
    // Where the help menu pops up: the window's outer left + the Help
    // button's left + 35, the window's outer top + 40.
    QPoint HelpMenuPosition() const;

    // The map page.
    void PanelMapResize();
    void DrawMap();
    void Image1MouseMove(int column, int row);

    // The status bar panel 0, 1 or 2.
    QString StatusText(int panel) const;

    // For the program's whole run: locks WorkFolder, or the first free
    // numbered folder beside it while another program holds it (WorkFolder
    // then names that one, and standard error says so). From then on the
    // open command converts only while the lock is held, taking it itself
    // when it could not be had here. False with the reason in error.
    bool HoldWorkFolder(std::string& error);

    std::string WorkFolder; // ends with "ztmp/" (or "ztmp-N/", see HoldWorkFolder)
    TWorkFolderLock WorkFolderLock;
    TUnZip UnZip1;
    TMapView MapView;
    QMenu* PopupMenu1 = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    // One .kml or .kmz file dropped on the window opens as with "Open File";
    // other drops are refused.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FormCreate();
    void AddShortcut(const QKeySequence& keys, void (TfrMain::*command)());
    // The conversion job over kmlPath in the job window; false when it
    // stopped on an error.
    bool RunJob(const std::string& kmlPath, const std::string& displayName);
    void ShowNothingLoaded();
    void ExportReminder();
    void ConnectCheck(TLayerCheck& check, QCheckBox* box);
    // Runs draw with the map view painting on Image1's bitmap, then shows it.
    void Paint(const std::function<void()>& draw);
    void ReportDrawProblems();

    std::unique_ptr<Ui::TfrMain> ui;
    std::vector<std::string> reportedProblems_;
    std::function<void(const std::string&)> previousZipWarnings_;
    bool painting_ = false; // a canvas is open on Image1's bitmap
    bool holdsWorkFolder_ = false; // HoldWorkFolder was called: convert only under the lock
};

// The maker's notice shown in status panel 0 while a document is on the map.
extern const char* const kMakerNotice;

} // namespace quarvex
