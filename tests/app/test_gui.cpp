// The desktop program driven through its real widgets, offscreen, with the
// dialog hook answering every dialog.
#include "app/UApplication.h"
#include "app/UBatchBox.h"
#include "app/UParseWindow.h"
#include "app/UWindowPlacement.h"
#include "app/main.h"
#include "platform/UProgramInfo.h"
#include "preview/UViewState.h"
#include "shapefile/ULayerSet.h"
#include "support/GuiFixture.h"

#include <QCheckBox>
#include <filesystem>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <gtest/gtest.h>

using namespace quarvex;
using namespace quarvex::test;

TEST_F(Gui, StartUpState)
{
    EXPECT_EQ(window.windowTitle(), "Quarvex v2");
    const std::pair<const char*, const char*> buttons[] = {{"SpeedButton1", "Open File"},
                                                           {"SpeedButton2", "Export SHP"},
                                                           {"SpeedButton4", "DXF/GPX"},
                                                           {"SpeedButton5", "Batch Processing"},
                                                           {"SpeedButton3", "Help"}};
    for (auto [name, caption] : buttons)
        EXPECT_EQ(Find<QToolButton>(window, name)->text(), caption) << name;
    EXPECT_EQ(Find<QLabel>(window, "Label1")->text(), "Google Earth to  ESRI SHP File");
    EXPECT_EQ(Find<QStackedWidget>(window, "Notebook1")->currentIndex(), 1);
    EXPECT_EQ(Find<QStackedWidget>(window, "Notebook1")->currentWidget()->objectName(), "Map");
    EXPECT_EQ(Checks(), std::vector<TCheckState>(4, {true, false}));
    for (int panel = 0; panel < 3; ++panel)
        EXPECT_EQ(window.StatusText(panel), "") << panel;
    EXPECT_EQ(PointRadius, 0);
    EXPECT_FALSE(ViewState.Loaded);
    EXPECT_EQ(CountColour(MapPicture(window), qRgb(255, 255, 255)), window.findChild<QWidget*>("Image1")->width() *
                                                                         window.findChild<QWidget*>("Image1")->height());
    // A fresh window computes its own folder beside the test program.
    TfrMain fresh;
    EXPECT_EQ(fresh.WorkFolder.size() - fresh.WorkFolder.rfind("/ztmp/"), 6u);
    EXPECT_EQ(fresh.WorkFolder.find("//"), std::string::npos);
}

TEST_F(Gui, OpenKmlAndKmzPutTheLayersOnTheMap)
{
    Open(Scene());
    EXPECT_EQ(job.Page, 1);
    EXPECT_EQ(job.Caption, "quarvex");
    EXPECT_EQ(job.Label1, "Cleaning Memory...");
    EXPECT_EQ(job.Label2, "");
    EXPECT_EQ(job.Start.left(15), "Starting Time: ");
    EXPECT_EQ(job.End.left(13), "Ending Time: ");
    EXPECT_TRUE(job.CloseVisible);
    EXPECT_EQ(job.Log.toStdString(), std::string("File: scene.kml\n") + kSceneLog);
    EXPECT_TRUE(hook.Messages.empty()) << hook.Messages.front().Text;

    EXPECT_EQ(Find<QStackedWidget>(window, "Notebook1")->currentIndex(), 1);
    EXPECT_EQ(window.StatusText(0).toStdString(), kMakerNotice);
    EXPECT_EQ(window.StatusText(2).toStdString(), files.File("scene.kml"));
    EXPECT_EQ(Checks(), std::vector<TCheckState>(4, {true, true}));
    EXPECT_EQ(PointRadius, 5);
    const QImage map = MapPicture(window);
    EXPECT_GT(CountColour(map, qRgb(183, 223, 134)), 100);
    EXPECT_GT(CountColour(map, qRgb(20, 164, 172)), 50);
    EXPECT_GT(CountColour(map, qRgb(161, 102, 50)), 40);

    // The mouse readout: the map's lower left corner is (0, 0).
    QWidget* image = window.findChild<QWidget*>("Image1");
    QTest::mouseMove(image, QPoint(ViewState.MarginLeft + 1, ViewState.DrawHeight + ViewState.MarginBottom - 1));
    EXPECT_EQ(window.StatusText(1), "0.00000, 0.00000");

    // The same document in an archive.
    const std::string kmz = files.File("scene.kmz");
    ASSERT_EQ(std::system(("cd " + files.Path() + " && cp scene.kml doc.kml && zip -q scene.kmz doc.kml").c_str()), 0);
    Open(kmz);
    EXPECT_EQ(window.StatusText(1), ""); // the coordinate of the map before is gone
    EXPECT_EQ(job.Log.toStdString(), std::string("File: scene.kmz\n") + kSceneLog);
    EXPECT_EQ(window.StatusText(2).toStdString(), kmz);
    EXPECT_EQ(Checks(), std::vector<TCheckState>(4, {true, true}));
    EXPECT_EQ(MapPicture(window), map);
    EXPECT_TRUE(hook.Messages.empty());
}

TEST_F(Gui, CancelEmptyDocumentAndSecondOpen)
{
    Open(Scene());
    const QImage before = MapPicture(window);
    const int modals = hook.ModalCount;
    Find<QToolButton>(window, "SpeedButton1")->click(); // the dialog is cancelled
    EXPECT_EQ(hook.ModalCount, modals);
    EXPECT_EQ(MapPicture(window), before);
    EXPECT_EQ(Checks(), std::vector<TCheckState>(4, {true, true}));
    EXPECT_EQ(window.StatusText(2).toStdString(), files.File("scene.kml"));

    QTest::mouseMove(window.findChild<QWidget*>("Image1"), QPoint(30, 30));
    EXPECT_NE(window.StatusText(1), "");

    // The second open clears the map before the job window shows.
    bool clearedFirst = false;
    WriteText(files.File("empty.kml"), "<kml><Document><name>none</name></Document></kml>");
    hook.OpenAnswers.push_back(QString::fromStdString(files.File("empty.kml")));
    TJobSnapshot second;
    auto close = CloseJobWindow(second);
    bool first = true;
    hook.OnModal = [&](QDialog& w) {
        if (first) {
            first = false;
            const QImage now = MapPicture(window);
            clearedFirst = CountColour(now, qRgb(255, 255, 255)) == now.width() * now.height();
        }
        return close(w);
    };
    Find<QToolButton>(window, "SpeedButton1")->click();
    EXPECT_TRUE(clearedFirst);
    EXPECT_EQ(second.Log.toStdString(), "File: empty.kml\n      Points: 0\n      Paths: 0\n      Polygons(outer): 0\n"
                                        "      Polygons (inner): 0\n\nEnd.");
    EXPECT_EQ(Find<QStackedWidget>(window, "Notebook1")->currentIndex(), 0);
    EXPECT_EQ(Checks(), std::vector<TCheckState>(4, {false, false}));
    EXPECT_EQ(window.StatusText(1), ""); // no coordinate of the map that is gone
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"No Entities were Found"});
    EXPECT_EQ(hook.Messages[0].Kind, TMessageKind::Warning);
}

TEST_F(Gui, AnOpenThatStopsOnAnErrorEndsThereWithOneBox)
{
    WriteText(files.File("bad.kml"), "<kml>\n<Document>\n<Placemark><name>x</Placemark>\n</Document></kml>");
    WriteText(files.File("cut.kml"), "<kml>\n<Document>\n<Placemark><name>x</name>");
    const struct {
        std::string file;
        std::string message;
        bool folderInTheWay; // a folder where the points' shape file goes
        bool jobRuns;        // false: the archive fails before the job window
    } rows[] = {
        {files.File("bad.kml"), files.File("bad.kml") + ": mismatched tag at line 3", false, true},
        {files.File("cut.kml"), "where the document ends: the document is cut short", false, true},
        {files.File("missing.kml"), "File not found", false, true},
        {Scene("other.kml"), "it is a folder, not a file", true, true},
        {files.File("missing.kmz"), files.File("missing.kmz") + ": File not found", false, false},
    };
    int step = 0;
    for (const auto& row : rows) {
        // A document on the map, and a coordinate in the status bar.
        Open(Scene());
        QTest::mouseMove(window.findChild<QWidget*>("Image1"), QPoint(30 + ++step, 30));
        ASSERT_NE(window.StatusText(1), "");
        if (row.folderInTheWay) {
            std::filesystem::remove(work.File("ztmp/kml_tmp1.$m"));
            std::filesystem::create_directories(work.File("ztmp/kml_tmp1.$m"));
        }
        hook.OpenAnswers.push_back(QString::fromStdString(row.file));
        hook.Messages.clear();
        const int modals = hook.ModalCount;
        bool ignoredClose = false, summary = false, escaped = false;
        hook.OnModal = [&](QDialog& w) {
            if (!static_cast<TfrParse&>(w).JobEnded()) {
                w.close(); // refused while the job has not run
                ignoredClose = ignoredClose || w.isVisible();
                return false;
            }
            if (hook.Messages.empty())
                return false;
            summary = Find<QStackedWidget>(w, "Notebook1")->currentIndex() == 1 &&
                      Find<QPlainTextEdit>(w, "Memo1")->toPlainText().contains("\nError: ");
            QTest::keyClick(&w, Qt::Key_Escape);
            escaped = !w.isVisible();
            return true;
        };
        Find<QToolButton>(window, "SpeedButton1")->click();
        std::filesystem::remove_all(work.File("ztmp/kml_tmp1.$m"));
        EXPECT_EQ(hook.ModalCount - modals, int(row.jobRuns)) << row.file;
        EXPECT_EQ(ignoredClose && summary && escaped, row.jobRuns) << row.file;
        // The error alone: no "No Entities were Found" after it.
        ASSERT_EQ(hook.Messages.size(), 1u) << row.file;
        EXPECT_EQ(hook.Messages[0].Kind, TMessageKind::Critical);
        EXPECT_NE(hook.Messages[0].Text.find(row.message), std::string::npos) << hook.Messages[0].Text;
        EXPECT_EQ(Find<QStackedWidget>(window, "Notebook1")->currentIndex(), 0) << row.file;
        EXPECT_EQ(Checks(), std::vector<TCheckState>(4, {false, false})) << row.file;
        EXPECT_EQ(window.StatusText(1), "") << row.file;
        EXPECT_FALSE(ViewState.Loaded) << row.file;
    }
}

TEST_F(Gui, KeysPressedWhileTheJobRunsDoNotCloseTheSummaryEnterAfterItDoes)
{
    hook.OpenAnswers.push_back(QString::fromStdString(Scene()));
    bool connected = false, posted = false, summaryStayed = false, closedByEnter = false;
    hook.OnModal = [&](QDialog& w) {
        auto& parse = static_cast<TfrParse&>(w);
        if (!connected) {
            connected = true;
            // The log grows while the job runs: an Escape, an Enter and a
            // close request are queued then, and delivered only after the job.
            QObject::connect(Find<QPlainTextEdit>(w, "Memo1"), &QPlainTextEdit::textChanged, &w, [&] {
                if (posted)
                    return;
                posted = true;
                QCoreApplication::postEvent(&w, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
                QCoreApplication::postEvent(&w, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
                QCoreApplication::postEvent(&w, new QCloseEvent);
            });
        }
        if (!parse.JobEnded())
            return false;
        QApplication::processEvents();
        summaryStayed = w.isVisible() && Find<QStackedWidget>(w, "Notebook1")->currentIndex() == 1;
        QTest::keyClick(w.focusWidget() ? w.focusWidget() : &w, Qt::Key_Return);
        closedByEnter = !w.isVisible();
        if (!closedByEnter)
            QTest::mouseClick(Find<QToolButton>(w, "SpeedButton1"), Qt::LeftButton);
        return true;
    };
    Find<QToolButton>(window, "SpeedButton1")->click();
    EXPECT_TRUE(posted);
    EXPECT_TRUE(summaryStayed);
    EXPECT_TRUE(closedByEnter);
}

TEST_F(Gui, ExportRemindersHelpMenuAndAbout)
{
    const std::string reminder = "Use the \"Open File\" option to load a File";
    Find<QToolButton>(window, "SpeedButton2")->click();
    Find<QToolButton>(window, "SpeedButton4")->click();
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{reminder, reminder}));
    EXPECT_EQ(hook.Messages[0].Kind, TMessageKind::Error);
    Open(Scene());
    hook.Messages.clear();
    Find<QToolButton>(window, "SpeedButton2")->click();
    Find<QToolButton>(window, "SpeedButton4")->click();
    EXPECT_TRUE(hook.Messages.empty());

    const std::string base = WebBaseAddress;
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"Howto1", base + "software/howto/quarvex.html"},
        {"Quarvexpage1", base + "quarvex.html"},
        {"MoreGoogleEarthrelated1", base + "ge_cat.html"},
        {"SoftwareIndex1", base},
        {"N1", ""},
        {"CommentsSuggestions1", base + "software/share/softsugest.php?toolname=QUARVEX:v2-6.17.08"},
        {"Reportaproblem1", base + "software/share/softreport.php?toolname=QUARVEX:v2-6.17.08"},
        {"N2", ""},
        {"Disclaimer1", base + "software/share/disclaimer.html"},
        {"About1", ""},
    };
    const QList<QAction*> actions = window.PopupMenu1->actions();
    ASSERT_EQ(actions.size(), int(entries.size()));
    for (int i = 0; i < actions.size(); ++i) {
        EXPECT_EQ(actions[i]->objectName().toStdString(), entries[i].first);
        EXPECT_EQ(actions[i]->isSeparator(), entries[i].first[0] == 'N');
        if (entries[i].second.empty())
            continue;
        hook.Urls.clear();
        actions[i]->trigger();
        EXPECT_EQ(hook.Urls, std::vector<std::string>{entries[i].second});
    }
    EXPECT_TRUE(hook.Messages.empty());
    // Without a browser, the box names the address.
    hook.BrowserStarts = false;
    actions[0]->trigger();
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"No web browser could be started to open " + entries[0].second +
                                                       "\n\nOpen this address in a web browser yourself."});
    EXPECT_EQ(hook.Messages[0].Kind, TMessageKind::Error);
    hook.BrowserStarts = true;

    window.move(0, 0);
    Find<QToolButton>(window, "SpeedButton3")->click();
    EXPECT_TRUE(window.PopupMenu1->isVisible());
    EXPECT_EQ(window.PopupMenu1->pos(), window.frameGeometry().topLeft() + QPoint(420 + 35, 40));
    window.PopupMenu1->hide();

    QString build;
    bool closedByClick = false;
    hook.OnModal = [&](QDialog& about) {
        build = Find<QLabel>(about, "Label4")->text();
        QTest::mouseClick(Find<QLabel>(about, "Label2"), Qt::LeftButton); // on a label: stays
        const bool stayed = about.isVisible();
        QTest::mouseClick(&about, Qt::LeftButton, {}, QPoint(200, 80));
        closedByClick = stayed && !about.isVisible();
        return true;
    };
    actions.back()->trigger();
    EXPECT_EQ(build, "Build: v2-6.17.08");
    EXPECT_TRUE(closedByClick);
}

TEST_F(Gui, BatchDialogRules)
{
    QStringList many;
    for (int i = 0; i < 25; ++i)
        many << QString("/data/f%1.kml").arg(i, 2, 10, QChar('0'));
    hook.MultiOpenAnswers = {many, {"/data/F00.KML", "/data/x.kml.bak", "/data/notes.txt", "/data/y.kmz"}};
    hook.FolderAnswers = {"", "/exports"};
    hook.OnModal = [&](QDialog& dialog) {
        auto& batch = static_cast<TfrBatch&>(dialog);
        auto* list = Find<QListWidget>(dialog, "ListBox1");
        auto* remove = Find<QPushButton>(dialog, "Button2");
        auto items = [&] {
            QStringList texts;
            for (int i = 0; i < list->count(); ++i)
                texts << list->item(i)->text();
            return texts;
        };
        EXPECT_TRUE(remove->isEnabled());
        // Return presses no button: the dialog has no default one.
        QTest::keyClick(list, Qt::Key_Return);
        EXPECT_TRUE(hook.BrowseTitles.empty());
        // Start Transformation with an empty list.
        Find<QPushButton>(dialog, "Button4")->click();
        EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Add some files to process"});
        Find<QPushButton>(dialog, "Button1")->click();
        EXPECT_EQ(items(), many.mid(0, 20));
        Find<QPushButton>(dialog, "Button3")->click(); // Clear All
        EXPECT_EQ(list->count(), 0);
        EXPECT_FALSE(remove->isEnabled());
        // Dropped files: a real drop event; the same path in other letters,
        // a second extension and a text file are refused.
        TScratchDir dropped;
        for (const char* name : {"A.kml", "a.KML", "notes.txt", "x.kml.bak", "b.kmz"})
            WriteText(dropped.File(name), "x");
        QMimeData mime;
        QList<QUrl> urls;
        for (const char* name : {"A.kml", "notes.txt", "x.kml.bak", "b.kmz", "a.KML"})
            urls << QUrl::fromLocalFile(QString::fromStdString(dropped.File(name)));
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(100, 250), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(100, 250), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &drop);
        EXPECT_EQ(items(), (QStringList{QString::fromStdString(dropped.File("A.kml")),
                                        QString::fromStdString(dropped.File("b.kmz"))}));
        Find<QPushButton>(dialog, "Button1")->click(); // F00.KML, x.kml.bak, notes.txt, y.kmz
        EXPECT_EQ(items().mid(2), (QStringList{"/data/F00.KML", "/data/y.kmz"}));
        // Remove File: without a selection nothing changes, not even the button.
        remove->setEnabled(false);
        list->clearSelection();
        list->setCurrentRow(-1);
        remove->click();
        EXPECT_EQ(list->count(), 4);
        EXPECT_FALSE(remove->isEnabled());
        // The last entry: the new last one is selected.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(3)).center());
        EXPECT_TRUE(remove->isEnabled());
        remove->click();
        EXPECT_EQ(list->count(), 3);
        EXPECT_EQ(list->currentRow(), 2);
        EXPECT_TRUE(list->item(2)->isSelected());
        // A file chosen with the keyboard can be removed too.
        remove->setEnabled(false);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Up);
        EXPECT_EQ(list->currentRow(), 1);
        EXPECT_TRUE(remove->isEnabled());
        while (list->count() > 1) {
            list->setCurrentRow(0);
            remove->click();
        }
        list->setCurrentRow(0); // the only entry
        remove->click();
        EXPECT_EQ(list->count(), 0);
        EXPECT_FALSE(remove->isEnabled());
        // Start Transformation with files: nothing shown.
        batch.AddFile("/data/z.kml");
        hook.Messages.clear();
        Find<QPushButton>(dialog, "Button4")->click();
        EXPECT_TRUE(hook.Messages.empty());
        // The projection lists.
        auto* projection = Find<QComboBox>(dialog, "ComboProjection");
        auto* zone = Find<QComboBox>(dialog, "ComboZone");
        auto* hemisphere = Find<QComboBox>(dialog, "ComboHemisphere");
        EXPECT_FALSE(zone->isVisible());
        projection->setCurrentIndex(1);
        EXPECT_TRUE(zone->isVisible() && hemisphere->isVisible());
        EXPECT_EQ(zone->currentText(), "Zone 12");
        EXPECT_EQ(zone->count(), 60);
        EXPECT_EQ(zone->itemText(59), "Zone 60");
        EXPECT_EQ(hemisphere->currentText(), "North");
        projection->setCurrentIndex(0);
        EXPECT_FALSE(zone->isVisible() || hemisphere->isVisible());
        // The folder browser: cancelled keeps the text, chosen replaces it.
        auto* edit = Find<QLineEdit>(dialog, "Edit1");
        Find<QPushButton>(dialog, "Button6")->click();
        EXPECT_EQ(edit->text(), "(Use the browse button to select a path)");
        Find<QPushButton>(dialog, "Button6")->click();
        EXPECT_EQ(edit->text(), "/exports");
        EXPECT_EQ(hook.BrowseTitles, (std::vector<std::string>{"Select a folder", "Select a folder"}));
        Find<QPushButton>(dialog, "Button5")->click();
        EXPECT_FALSE(dialog.isVisible());
        return true;
    };
    Find<QToolButton>(window, "SpeedButton5")->click();
    EXPECT_EQ(hook.ModalCount, 1);

    EXPECT_EQ(CentredPosition(QSize(1920, 1040), QSize(500, 401)), QPoint(710, 320));
    EXPECT_EQ(CentredPosition(QSize(1001, 801), QSize(301, 201)), QPoint(350, 300));
}

TEST_F(Gui, ResizingRefitsTheMap)
{
    Open(Scene());
    for (QSize size : {QSize(900, 700), QSize(500, 300)}) {
        window.resize(size);
        QApplication::processEvents();
        QWidget* panel = window.findChild<QWidget*>("PanelMap");
        QWidget* image = window.findChild<QWidget*>("Image1");
        EXPECT_EQ(image->size(), panel->size());
        EXPECT_EQ(ViewState.DrawWidth, panel->width() - 10);
        EXPECT_EQ(ViewState.DrawHeight, panel->height() - 10);
        // The data are 100 by 50 units: the wider fit decides the scale.
        EXPECT_EQ(ViewState.ScaleX, std::max(100.0 / ViewState.DrawWidth, 50.0 / ViewState.DrawHeight));
        EXPECT_GT(CountColour(MapPicture(window), qRgb(183, 223, 134)), 100);
    }
}

TEST_F(Gui, EachCopyConvertsInTheWorkFolderItHolds)
{
    std::string error;
    ASSERT_TRUE(window.HoldWorkFolder(error)) << error;
    TfrMain other;
    other.WorkFolder = work.File("ztmp/");
    ASSERT_TRUE(other.HoldWorkFolder(error)) << error;
    EXPECT_EQ(window.WorkFolder, work.File("ztmp/"));
    EXPECT_EQ(other.WorkFolder, work.File("ztmp-2/"));
    Open(Scene());
    EXPECT_EQ(PointLayer.Name, work.File("ztmp/kml_tmp1.$m"));
    EXPECT_EQ(RunCommand("/usr/bin/python3 '" + SourceDir() + "/tests/tools/shpdump.py' --check '" + work.File("ztmp") +
                         "' 2>&1")
                  .substr(0, 30),
              "layer 1 shapes 2 records 2 ok\n");
}

TEST(GuiProcesses, TwoCopiesOfTheProgramNeverShareAWorkFolder)
{
    // Copies of the program in a folder of their own, each opening a file
    // from the command line as the file manager starts them; each stays in
    // its job window after the job.
    TScratchDir dir;
    const std::string exe = CopyProgram(QUARVEX_DESKTOP, dir.File("bin/"));
    auto placemarks = [](int n) {
        std::string kml = "<kml><Document>";
        for (int i = 0; i < n; ++i)
            kml += "<Placemark><name>P" + std::to_string(i) + "</name><Point><coordinates>" + std::to_string(i) +
                   ",1</coordinates></Point></Placemark>";
        return kml + "</Document></kml>";
    };
    WriteText(dir.File("three.kml"), placemarks(3));
    WriteText(dir.File("five.kml"), placemarks(5));
    auto finished = [&](const std::string& folder) {
        return [&dir, folder] {
            const std::string text = ReadText(dir.File(folder + "/kml_tmp1.xml"));
            return text.size() > 17 && text.compare(text.size() - 17, 17, "</shapes></doc>\r\n") == 0;
        };
    };
    std::filesystem::create_directories(dir.File("a"));
    std::filesystem::create_directories(dir.File("b"));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TBackgroundProcess first({exe, dir.File("three.kml")}, dir.File("a/"));
    ASSERT_TRUE(WaitFor(finished("bin/ztmp"), 30)) << first.Err();
    TBackgroundProcess second({exe, dir.File("five.kml")}, dir.File("b/"));
    ASSERT_TRUE(WaitFor(finished("bin/ztmp-2"), 30)) << second.Err();
    EXPECT_NE(second.Err().find("quarvex: the work folder " + dir.File("bin/ztmp/") +
                                " is in use by another Quarvex process; this one uses " + dir.File("bin/ztmp-2/") + "\n"),
              std::string::npos)
        << second.Err();
    first.Kill();
    second.Kill();
    auto check = [](const std::string& folder) {
        return RunCommand("/usr/bin/python3 '" + SourceDir() + "/tests/tools/shpdump.py' --check '" + folder + "' 2>&1");
    };
    const std::string rest = "layer 2 shapes 0 records 0 ok\nlayer 3 shapes 0 records 0 ok\nlayer 4 shapes 0 records 0 ok\n";
    EXPECT_EQ(check(dir.File("bin/ztmp")), "layer 1 shapes 3 records 3 ok\n" + rest);
    EXPECT_EQ(check(dir.File("bin/ztmp-2")), "layer 1 shapes 5 records 5 ok\n" + rest);
}

TEST(GuiErrors, EscapingErrorsAreShownAndTheProgramGoesOn)
{
    TTestDialogHook hook;
    QTimer::singleShot(0, [] { throw EQuarvexError("Something broke"); });
    QTimer::singleShot(10, [] { QApplication::exit(7); });
    EXPECT_EQ(QApplication::exec(), 7);
    ASSERT_EQ(hook.Messages.size(), 1u);
    EXPECT_EQ(hook.Messages[0].Kind, TMessageKind::Critical);
    EXPECT_EQ(hook.Messages[0].Text, "Something broke");
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The settings the tests write stay in a config folder of their own.
    TScratchDir config;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path().substr(0, config.Path().size() - 1)));
    TQuarvexApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
