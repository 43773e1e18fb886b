// Renders the desktop program's windows offscreen and saves them as PNG
// files: the main window with the map of a converted file, the job window's
// summary page, the batch dialog with files in its list and UTM chosen, and
// the About box. Used by tools/make-pictures.sh.
// Usage: quarvex_screenshots KML_FILE OUT_FOLDER [BATCH_FILE...]
#include "app/UAbout.h"
#include "app/UAppSetup.h"
#include "app/UBatchBox.h"
#include "app/UDialogHook.h"
#include "app/UParseWindow.h"
#include "app/main.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QTimer>
#include <cstdio>

namespace {

using namespace quarvex;

class TScreenshotHook : public TDialogHook {
public:
    QString OutFolder;
    QStringList BatchFiles;

    void Message(QWidget*, TMessageKind, const QString& text) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    int ExecModal(QDialog& window) override
    {
        // Polls until the window is ready to be shown, saves it and closes it.
        QTimer poll;
        poll.setInterval(50);
        QObject::connect(&poll, &QTimer::timeout, &window, [&] {
            const QString name = window.objectName();
            if (name == "frParse") {
                if (!static_cast<TfrParse&>(window).JobEnded())
                    return;
                Save(window, "job-window.png");
            } else if (name == "TfrBatch") {
                auto& batch = static_cast<TfrBatch&>(window);
                batch.AddDialogFiles(BatchFiles);
                batch.findChild<QComboBox*>("ComboProjection")->setCurrentIndex(1);
                Save(window, "batch-dialog.png");
            } else if (name == "TfrAbout") {
                Save(window, "about-box.png");
            }
            poll.stop();
            window.done(0);
        });
        poll.start();
        return window.exec();
    }
    void Save(QWidget& window, const QString& file)
    {
        QApplication::processEvents();
        const QString path = OutFolder + "/" + file;
        if (!window.grab().save(path))
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        else
            std::printf("wrote %s\n", qPrintable(path));
    }
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: quarvex_screenshots KML_FILE OUT_FOLDER [BATCH_FILE...]\n");
        return 2;
    }
    SubstituteDesignedFonts();
    TScreenshotHook hook;
    hook.OutFolder = argv[2];
    for (int i = 3; i < argc; ++i)
        hook.BatchFiles << QString::fromLocal8Bit(argv[i]);
    SetDialogHook(&hook);

    TfrMain window;
    window.show();
    QApplication::processEvents();
    window.OpenFile(QString::fromLocal8Bit(argv[1]));
    QApplication::processEvents();
    hook.Save(window, "main-window.png");
    window.SpeedButton5Click();
    ShowAbout(&window);
    SetDialogHook(nullptr);
    return 0;
}
