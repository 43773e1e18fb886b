// The desktop program: the main window, and with a file on the command line
// the open command on that file as if it had been chosen in the open dialog.
#include "app/UApplication.h"
#include "app/UDialogHook.h"
#include "app/main.h"
#include "platform/UProgramInfo.h"

#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <cstring>

namespace {

const char* const kUsage =
    "Usage: quarvex [FILE]\n"
    "       quarvex --version | --help\n"
    "Opens the main window; with FILE, a KML file or KMZ archive, converts it at\n"
    "once and shows its layers on the map, as \"Open File\" does.\n"
    "\n"
    "  --version  shows the version and the build, and exits\n"
    "  --help     shows this text, and exits\n"
    "\n"
    "The options of Qt programs (such as -platform NAME) are taken too.\n"
    "See quarvex(1).\n";

// --version and --help, answered before any window system is needed so that
// they work without a display; -1 when the program is to start.
int AnswerInfoOption(int argc, char** argv)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs(quarvex::VersionText("quarvex").c_str(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (const int status = AnswerInfoOption(argc, argv); status >= 0)
        return status;
    quarvex::TQuarvexApplication app(argc, argv);
    quarvex::TfrMain window;
    // The work folder is this copy's for its whole run; the open command
    // shows why when it cannot be had.
    std::string error;
    if (!window.HoldWorkFolder(error))
        std::fprintf(stderr, "quarvex: %s\n", error.c_str());
    window.PlaceOnScreen();
    window.show();
    QStringList args = QApplication::arguments();
    args.removeOne("--");
    if (args.size() > 1) {
        const QString file = QFileInfo(args.at(1)).absoluteFilePath();
        QTimer::singleShot(0, &window, [&window, file] {
            quarvex::RunGuarded(&window, [&] { window.OpenFile(file); });
        });
    }
    return app.exec();
}
