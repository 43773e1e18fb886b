// Opens a KML file in the real main window (offscreen) and times resizes of
// the window with the layers on the map: each one refits and redraws the
// map from the layer files, as a user dragging the window edge sees it.
// Usage: bench_window_resize KML [RESIZES]
#include "app/UApplication.h"
#include "app/UDialogHook.h"
#include "app/UParseWindow.h"
#include "app/main.h"
#include "shapefile/ULayerSet.h"

#include <QDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {
using namespace quarvex;

// Closes the job window once its job has ended; says nothing else.
class TQuietHook : public TDialogHook {
public:
    void Message(QWidget*, TMessageKind, const QString& text) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    int ExecModal(QDialog& window) override
    {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &window, [&] {
            if (static_cast<TfrParse&>(window).JobEnded())
                window.done(0);
        });
        poll.start(20);
        return window.exec();
    }
};
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The folder the open command remembers goes into a config folder of
    // the run's own, not into the user's.
    const QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    TQuarvexApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_window_resize KML [RESIZES]\n");
        return 2;
    }
    const int resizes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    TQuietHook hook;
    SetDialogHook(&hook);
    TfrMain window;
    window.resize(1280, 800);
    window.show();
    QApplication::processEvents();
    const auto start = std::chrono::steady_clock::now();
    window.OpenFile(QString::fromLocal8Bit(argv[1]));
    const double open = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::vector<double> seconds;
    for (int i = 0; i < resizes; ++i) {
        const auto t = std::chrono::steady_clock::now();
        window.resize(i % 2 ? 1280 : 1296, i % 2 ? 800 : 816);
        QApplication::processEvents();
        window.repaint();
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count());
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("open command (conversion, job window, first map): %.2f s; %d points, %d paths, %d + %d rings\n", open,
                PointLayer.Count, PathLayer.Count, OuterPolygonLayer.Count, InnerPolygonLayer.Count);
    std::printf("window resize with the map redrawn: median %.3f s of %d (fastest %.3f s, slowest %.3f s)\n",
                seconds[seconds.size() / 2], resizes, seconds.front(), seconds.back());
    SetDialogHook(nullptr);
    return 0;
}
