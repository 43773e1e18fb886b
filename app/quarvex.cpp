// The desktop program: the main window, and with a file on the command line
// the open command on that file as if it had been chosen in the open dialog.
#include "app/UApplication.h"
#include "app/UDialogHook.h"
#include "app/main.h"

#include <QFileInfo>
#include <cstdio>
#include <QTimer>

int main(int argc, char** argv)
{
    quarvex::TQuarvexApplication app(argc, argv);
    quarvex::TfrMain window;
    // The work folder is this copy's for its whole run; the open command
    // shows why when it cannot be had.
    std::string error;
    if (!window.HoldWorkFolder(error))
        std::fprintf(stderr, "quarvex: %s\n", error.c_str());
    window.move(465, 225);
    window.show();
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) {
        const QString file = QFileInfo(args.at(1)).absoluteFilePath();
        QTimer::singleShot(0, &window, [&window, file] {
            quarvex::RunGuarded(&window, [&] { window.OpenFile(file); });
        });
    }
    return app.exec();
}
