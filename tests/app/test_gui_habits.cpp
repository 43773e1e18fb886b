// The desktop habits of the program, offscreen through its real widgets:
// drops on the main window, shortcuts and tooltips, the remembered folder,
// the zone list's rows, the title beside the buttons, the window inside the
// screen.
#include "app/UWindowPlacement.h"
#include "support/GuiFixture.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QSettings>
#include <QTimer>

using namespace quarvex;
using namespace quarvex::test;

TEST_F(Gui, OneKmlOrKmzDroppedOnTheWindowOpensIt)
{
    const std::string scene = Scene("dropped.KML");
    WriteText(files.File("notes.txt"), "x");
    auto local = [](const std::string& path) { return QUrl::fromLocalFile(QString::fromStdString(path)); };
    const struct {
        QList<QUrl> urls;
        bool opens;
    } rows[] = {
        {{local(files.File("notes.txt"))}, false},
        {{local(scene), local(Scene("second.kmz"))}, false}, // one file only
        {{QUrl("https://example.org/x.kml")}, false},
        {{QUrl("file://elsewhere/x.kml")}, false},
        {{local(scene)}, true},
    };
    for (const auto& row : rows) {
        QMimeData mime;
        mime.setUrls(row.urls);
        const int modals = hook.ModalCount;
        hook.OnModal = CloseJobWindow(job);
        QDragEnterEvent enter(QPoint(300, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        EXPECT_EQ(enter.isAccepted(), row.opens) << row.urls.front().toString().toStdString();
        QDropEvent drop(QPointF(300, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &drop);
        QApplication::processEvents();
        EXPECT_EQ(hook.ModalCount, modals + int(row.opens)) << row.urls.front().toString().toStdString();
    }
    EXPECT_EQ(job.Log.toStdString(), std::string("File: dropped.KML\n") + kSceneLog);
    EXPECT_EQ(window.StatusText(2).toStdString(), scene);
    EXPECT_EQ(Checks(), std::vector<TCheckState>(4, {true, true}));
    EXPECT_TRUE(hook.Messages.empty());
}

TEST_F(Gui, ShortcutsAndTooltips)
{
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QString modal;
    hook.OnModal = [&](QDialog& dialog) {
        modal = dialog.objectName();
        dialog.done(0);
        return true;
    };
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier); // the open dialog, cancelled
    EXPECT_EQ(hook.OpenFolders.size(), 1u);
    QTest::keyClick(&window, Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(modal, "TfrBatch");
    window.activateWindow(); // again, after the dialog
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_F1);
    EXPECT_TRUE(window.PopupMenu1->isVisible());
    EXPECT_EQ(window.PopupMenu1->pos(), window.HelpMenuPosition());
    window.PopupMenu1->hide();

    const std::pair<const char*, const char*> tips[] = {{"SpeedButton1", "(Ctrl+O)"},
                                                        {"SpeedButton2", "quarvex-convert --export"},
                                                        {"SpeedButton4", "not part of this program"},
                                                        {"SpeedButton5", "(Ctrl+B)"},
                                                        {"SpeedButton3", "(F1)"}};
    for (auto [name, says] : tips)
        EXPECT_TRUE(Find<QToolButton>(window, name)->toolTip().contains(says)) << name;
}

TEST_F(Gui, TheOpenDialogStartsInTheFolderOfTheLastFileOpened)
{
    QSettings().remove("OpenDialog"); // as on a first run
    Find<QToolButton>(window, "SpeedButton1")->click();
    Open(Scene());
    const std::string folder = files.Path().substr(0, files.Path().size() - 1);
    EXPECT_EQ(hook.OpenFolders, (std::vector<std::string>{"", ""}));
    // Kept in the user's config folder, which main() made private.
    const std::string file = std::string(qgetenv("XDG_CONFIG_HOME").constData()) + "/quarvex/quarvex.conf";
    EXPECT_NE(ReadText(file).find("LastFolder=" + folder + "\n"), std::string::npos) << ReadText(file);

    // A later session: its open dialog, the real one, starts there.
    TfrMain later;
    later.WorkFolder = work.File("ztmp/");
    TDialogHook real;
    SetDialogHook(&real);
    QString shownFolder, shownFilter;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            shownFolder = dialog->directory().absolutePath();
            shownFilter = Find<QComboBox>(*dialog, "fileTypeCombo")->currentText();
            dialog->reject();
        }
    });
    poll.start(20);
    later.SpeedButton1Click();
    SetDialogHook(&hook);
    EXPECT_EQ(shownFolder.toStdString(), folder);
    EXPECT_EQ(shownFilter, "Google Earth File (KML, KMZ)"); // its patterns not shown twice
}

TEST_F(Gui, TheZoneListOpensWithTwentyRows)
{
    int rows = 0;
    hook.OnModal = [&](QDialog& dialog) {
        Find<QComboBox>(dialog, "ComboProjection")->setCurrentIndex(1);
        auto* zone = Find<QComboBox>(dialog, "ComboZone");
        zone->showPopup();
        QApplication::processEvents();
        const QAbstractItemView* list = zone->view();
        const int last = list->indexAt(QPoint(2, list->viewport()->height() - 2)).row();
        rows = last - list->indexAt(QPoint(2, 2)).row() + 1;
        zone->hidePopup();
        dialog.done(0);
        return true;
    };
    Find<QToolButton>(window, "SpeedButton5")->click();
    EXPECT_EQ(rows, 20);
}

TEST_F(Gui, TheTitleFitsAndNeverCoversTheButtons)
{
    for (const char* name : {"Label1", "Label2"}) {
        const QLabel* title = Find<QLabel>(window, name);
        EXPECT_EQ(title->text(), "Google Earth to  ESRI SHP File");
        EXPECT_LE(title->fontMetrics().horizontalAdvance(title->text()), title->contentsRect().width()) << name;
    }
    EXPECT_EQ(Find<QLabel>(window, "Label1")->geometry(), QRect(12, 6, 174, 16));
    QWidget* panel1 = Find<QWidget>(window, "Panel1");
    QToolButton* help = Find<QToolButton>(window, "SpeedButton3");
    // The designed place where the window is wide enough; never over Help.
    const std::pair<int, int> rows[] = {{676, 490}, {900, 714}, {600, 481}, {500, 481}};
    for (auto [width, titleX] : rows) {
        window.resize(width, 466);
        QApplication::processEvents();
        EXPECT_EQ(Find<QWidget>(window, "Panel2")->x(), titleX) << width;
        EXPECT_EQ(panel1->childAt(help->geometry().topRight() + QPoint(-2, 10)), help) << width;
    }
}

TEST(GuiPlacement, TheMainWindowLiesInsideTheScreen)
{
    const QRect designed(465, 225, 684, 493);
    const std::pair<QRect, QRect> rows[] = {
        {QRect(0, 0, 1920, 1080), designed},                      // fits: the designed place
        {QRect(0, 32, 1280, 688), designed},                      // a panel above, still fits
        {QRect(0, 0, 1024, 768), QRect(340, 225, 684, 493)},      // moved left, not shrunk
        {QRect(0, 0, 1024, 600), QRect(340, 107, 684, 493)},      // moved up too
        {QRect(0, 0, 640, 480), QRect(0, 0, 640, 480)},           // shrunk to the screen
        {QRect(1920, 0, 1280, 1024), QRect(1920, 225, 684, 493)}, // a screen right of another
    };
    for (auto [available, expected] : rows)
        EXPECT_EQ(FitInside(available, designed), expected) << available.x() << "," << available.width();

    // The real window on the offscreen screen, which is too small for the
    // designed place.
    TfrMain window;
    window.PlaceOnScreen();
    window.show();
    QApplication::processEvents();
    const QRect available = window.screen()->availableGeometry();
    ASSERT_FALSE(available.contains(designed));
    const QRect fitted = FitInside(available, designed);
    EXPECT_EQ(window.pos(), fitted.topLeft());
    EXPECT_EQ(window.size(), QSize(676, 466) - (designed.size() - fitted.size()));

    // Dialogs are centred on the frame of their owner, title bars included.
    EXPECT_EQ(CentredOn(QRect(465, 225, 678, 491), QSize(268, 146)), QPoint(670, 397));
    EXPECT_EQ(CentredOn(QRect(-100, 0, 100, 101), QSize(50, 50)), QPoint(-75, 25));
}
