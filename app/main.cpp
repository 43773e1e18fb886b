#include "app/main.h"

#include "app/UAppSetup.h"
#include "app/UBatchBox.h"
#include "app/UDialogHook.h"
#include "app/UDroppedFiles.h"
#include "app/UGlyphs.h"
#include "app/UHelpMenu.h"
#include "app/UParseWindow.h"
#include "app/UQtCanvas.h"
#include "app/UWindowPlacement.h"
#include "kml/kmz/UResolveKml.h"
#include "platform/UFileNames.h"
#include "platform/UProgramInfo.h"
#include "platform/UWorkFolder.h"
#include "preview/UViewState.h"
#include "shapefile/ULayerSet.h"
#include "ui_main.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QResizeEvent>
#include <QShortcut>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace quarvex {

const char* const kMakerNotice = "Quarvex - quarvex.example";

namespace {
QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

// The title keeps its designed font and width: rendered with full hinting,
// as the designed font is on screen, an installed metric twin fits the
// label; where it still does not (another resolution, another font), the
// letters move closer together until it does.
void FitTitle(QLabel* label)
{
    QFont font = label->font();
    font.setHintingPreference(QFont::PreferFullHinting);
    const int room = label->contentsRect().width();
    for (int tenths = 1; tenths <= 10 && QFontMetrics(font).horizontalAdvance(label->text()) > room; ++tenths)
        font.setLetterSpacing(QFont::AbsoluteSpacing, -0.1 * tenths);
    label->setFont(font);
}

// The one KML or KMZ file of a drag, or empty when the drag holds anything else.
QString DroppedDocument(const QMimeData& mime)
{
    const QStringList files = DroppedLocalFiles(mime);
    if (mime.urls().size() != 1 || files.size() != 1 || !IsKmlOrKmzName(files.front()))
        return {};
    return files.front();
}
} // namespace

TfrMain::TfrMain(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TfrMain>())
{
    ui->setupUi(this);
    ui->SpeedButton1->setIcon(GlyphIcon(TGlyph::OpenFile));
    ui->SpeedButton2->setIcon(GlyphIcon(TGlyph::ExportShp));
    ui->SpeedButton4->setIcon(GlyphIcon(TGlyph::DxfGpx));
    ui->SpeedButton5->setIcon(GlyphIcon(TGlyph::Batch));
    ui->SpeedButton3->setIcon(GlyphIcon(TGlyph::Help));
    ui->SpeedButton8->setIcon(GlyphIcon(TGlyph::Select));
    ui->SpeedButton6->setIcon(GlyphIcon(TGlyph::ZoomIn));
    ui->SpeedButton7->setIcon(GlyphIcon(TGlyph::ZoomOut));
    ui->SpeedButton9->setIcon(GlyphIcon(TGlyph::Extent));
    ui->SpeedButton8->setChecked(true);
    FitTitle(ui->Label1);
    FitTitle(ui->Label2);
    PopupMenu1 = CreateHelpMenu(this);
    setAcceptDrops(true);

    connect(ui->SpeedButton1, &QToolButton::clicked, this, [this] { RunGuarded(this, [this] { SpeedButton1Click(); }); });
    connect(ui->SpeedButton2, &QToolButton::clicked, this, [this] { RunGuarded(this, [this] { SpeedButton2Click(); }); });
    connect(ui->SpeedButton4, &QToolButton::clicked, this, [this] { RunGuarded(this, [this] { SpeedButton4Click(); }); });
    connect(ui->SpeedButton5, &QToolButton::clicked, this, [this] { RunGuarded(this, [this] { SpeedButton5Click(); }); });
    connect(ui->SpeedButton3, &QToolButton::clicked, this, [this] { RunGuarded(this, [this] { SpeedButton3Click(); }); });
    AddShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), &TfrMain::SpeedButton1Click);
    AddShortcut(QKeySequence(Qt::CTRL | Qt::Key_B), &TfrMain::SpeedButton5Click);
    AddShortcut(QKeySequence(Qt::Key_F1), &TfrMain::SpeedButton3Click);
    ConnectCheck(MapView.Checks.CheckPoint, ui->CheckPoint);
    ConnectCheck(MapView.Checks.CheckPath, ui->CheckPath);
    ConnectCheck(MapView.Checks.CheckPolyIn, ui->CheckPolyIn);
    ConnectCheck(MapView.Checks.CheckPolyOut, ui->CheckPolyOut);
    ui->PanelMap->OnResize = [this] { PanelMapResize(); };
    ui->Image1->OnMouseMove = [this](int column, int row) { Image1MouseMove(column, row); };
    FormCreate();
}

TfrMain::~TfrMain()
{
    ZipWarningHandler = previousZipWarnings_;
}

void TfrMain::AddShortcut(const QKeySequence& keys, void (TfrMain::*command)())
{
    auto* shortcut = new QShortcut(keys, this);
    connect(shortcut, &QShortcut::activated, this, [this, command] { RunGuarded(this, [&] { (this->*command)(); }); });
}

void TfrMain::PlaceOnScreen()
{
    KeepInsideScreen(*this, kDesignedPosition, kDesignedFrame);
}

void TfrMain::ConnectCheck(TLayerCheck& check, QCheckBox* box)
{
    // The box follows the model; a click by the user goes to the model,
    // whose click handler redraws the map.
    check.OnStateChange = [&check, box] {
        const QSignalBlocker quiet(box);
        box->setEnabled(check.Enabled());
        box->setChecked(check.Checked());
    };
    check.OnClick = [this] { DrawMap(); };
    connect(box, &QCheckBox::clicked, this,
            [this, &check](bool checked) { RunGuarded(this, [&] { check.SetChecked(checked); }); });
    check.OnStateChange();
}

void TfrMain::FormCreate()
{
    // The archive reader's messages are warning boxes over this window.
    previousZipWarnings_ = ZipWarningHandler;
    ZipWarningHandler = [this](const std::string& message) {
        DialogHook().Message(this, TMessageKind::Warning, Q(message));
    };
    ViewState.Loaded = false;
    WorkFolder = DefaultWorkFolder(ExecutableFolder());
    // Created now when missing; the open command says so when it cannot be.
    std::string reason;
    EnsureWorkFolder(WorkFolder, reason);
    InitViewDefaults();
    PanelMapResize(); // the bitmap of the map's size, painted white
}

void TfrMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Aligned right, but never over the tool buttons: in a narrow window
    // the title gives way and is cut at the window's edge instead.
    const int buttonsEnd = ui->SpeedButton3->geometry().right() + 1;
    ui->Panel2->move(std::max(buttonsEnd, ui->Panel1->width() - ui->Panel2->width()), 0);
}

void TfrMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedDocument(*event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TfrMain::dropEvent(QDropEvent* event)
{
    const QString file = DroppedDocument(*event->mimeData());
    if (file.isEmpty())
        return;
    event->acceptProposedAction();
    // Opened once the drop has been answered, so that the program the file
    // came from does not wait for the job window to close.
    QTimer::singleShot(0, this, [this, file] { RunGuarded(this, [&] { OpenFile(file); }); });
}

void TfrMain::Paint(const std::function<void()>& draw)
{
    // A redraw fired from inside a drawing (a check box changed by
    // SetupLayerChecks) paints on the canvas that is already open.
    if (painting_) {
        draw();
        return;
    }
    painting_ = true;
    {
        TQtCanvas canvas(ui->Image1->Picture);
        MapView.SetCanvas(&canvas);
        try {
            draw();
        } catch (...) {
            MapView.SetCanvas(nullptr);
            painting_ = false;
            throw;
        }
        MapView.SetCanvas(nullptr);
    }
    painting_ = false;
    ui->Image1->update();
}

void TfrMain::PanelMapResize()
{
    const QSize size = ui->PanelMap->size();
    ui->Image1->Picture = QImage(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    ui->Image1->setGeometry(0, 0, size.width(), size.height());
    DrawMap();
}

void TfrMain::DrawMap()
{
    Paint([this] { MapView.DrawMap(); });
    ReportDrawProblems();
}

void TfrMain::ReportDrawProblems()
{
    // Said once for each new set of problems, not on every redraw.
    if (MapView.Problems.empty() || MapView.Problems == reportedProblems_)
        return;
    reportedProblems_ = MapView.Problems;
    QString text = "The map lacks part of a layer:";
    for (const std::string& problem : MapView.Problems)
        text += "\n" + Q(problem);
    DialogHook().Message(this, TMessageKind::Warning, text);
}

void TfrMain::Image1MouseMove(int column, int row)
{
    ui->StatusPanel1->setText(Q(CoordinateReadout(column, row)));
}

QString TfrMain::StatusText(int panel) const
{
    const QLabel* panels[] = {ui->StatusPanel0, ui->StatusPanel1, ui->StatusPanel2};
    return panel >= 0 && panel < 3 ? panels[panel]->text() : QString();
}

void TfrMain::ExportReminder()
{
    if (!ViewState.Loaded)
        DialogHook().Message(this, TMessageKind::Error, "Use the \"Open File\" option to load a File");
}

QPoint TfrMain::HelpMenuPosition() const
{
    const QRect frame = frameGeometry();
    return QPoint(frame.left() + ui->SpeedButton3->x() + 35, frame.top() + 40);
}

void TfrMain::SpeedButton3Click()
{
    PopupMenu1->popup(HelpMenuPosition());
}

void TfrMain::SpeedButton5Click()
{
    ShowBatchDialog(this);
}

void TfrMain::SpeedButton1Click()
{
    const QString fileName = DialogHook().OpenFileName(
        this, "Open", "Google Earth File (KML, KMZ) (*.kml *.kmz *.KML *.KMZ)", LastOpenFolder());
    if (fileName.isEmpty())
        return;
    OpenFile(fileName);
}

bool TfrMain::HoldWorkFolder(std::string& error)
{
    holdsWorkFolder_ = true;
    if (WorkFolderLock.Held())
        return true;
    std::string notice;
    if (!LockDefaultWorkFolder(WorkFolder, WorkFolderLock, notice, error))
        return false;
    WorkFolder = WorkFolderLock.Folder();
    if (!notice.empty())
        std::fprintf(stderr, "quarvex: %s\n", notice.c_str());
    return true;
}

void TfrMain::OpenFile(const QString& fileName)
{
    std::string reason;
    if (holdsWorkFolder_ && !HoldWorkFolder(reason)) {
        DialogHook().Message(this, TMessageKind::Error, Q("The work folder cannot be used: " + reason));
        return;
    }
    if (!EnsureWorkFolder(WorkFolder, reason)) {
        DialogHook().Message(this, TMessageKind::Error,
                             Q("The work folder " + WorkFolder + " cannot be used: " + reason));
        return;
    }
    RememberOpenFolder(fileName);
    const std::string chosen = fileName.toStdString();
    ViewState.Loaded = false;
    reportedProblems_.clear();
    Paint([this] { MapView.ClearMap(); });
    ui->StatusPanel1->clear(); // no coordinate of the map that is gone
    ui->Image1->repaint();
    ui->Panel4->repaint();
    ui->Panel1->repaint();

    std::string kmlPath;
    try {
        kmlPath = ResolveKmlPath(chosen, WorkFolder, UnZip1);
    } catch (const EQuarvexError& e) {
        ShowNothingLoaded();
        throw EQuarvexError(chosen + ": " + e.what()); // the file the user chose, named
    }
    if (!kmlPath.empty())
        ui->StatusPanel2->setText(fileName);
    if (!RunJob(kmlPath, ExtractFileName(chosen))) {
        ShowNothingLoaded(); // the command ends at the error the job window showed
        return;
    }
    if (ViewState.Loaded) {
        ui->Notebook1->setCurrentIndex(1);
        ui->StatusPanel0->setText(kMakerNotice);
    } else {
        ui->Notebook1->setCurrentIndex(0);
    }
    Paint([this] { MapView.SetupLayerChecks(); });
    const int64_t points = PointLayer.Count;
    const int64_t total = points + PathLayer.Count + OuterPolygonLayer.Count + InnerPolygonLayer.Count;
    PointRadius = PointRadiusFor(points, total);
    DrawMap();
    if (total == 0)
        DialogHook().Message(this, TMessageKind::Warning, "No Entities were Found");
}

bool TfrMain::RunJob(const std::string& kmlPath, const std::string& displayName)
{
    TMyInfoParser layerSet;
    CurrentLayerSet = &layerSet;
    layerSet.SetDefaults();
    bool ended = false;
    try {
        ended = RunConversionJob(this, kmlPath, displayName, WorkFolder);
    } catch (...) {
        CurrentLayerSet = nullptr;
        throw;
    }
    CurrentLayerSet = nullptr;
    return ended;
}

void TfrMain::ShowNothingLoaded()
{
    // As after a document without entities: the browser page, and no layer
    // to switch on, whatever part of the layers the stopped job wrote.
    ui->Notebook1->setCurrentIndex(0);
    Paint([this] {
        for (TLayerCheck* check : {&MapView.Checks.CheckPoint, &MapView.Checks.CheckPath, &MapView.Checks.CheckPolyIn,
                                   &MapView.Checks.CheckPolyOut})
            MapView.SetLayerCheck(*check, 0);
    });
    DrawMap();
}

} // namespace quarvex
