#include "app/UApplication.h"

#include "app/UAppSetup.h"
#include "app/UDialogHook.h"

namespace quarvex {

TQuarvexApplication::TQuarvexApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    SetProgramNames();
    setDesktopFileName("quarvex");
    SubstituteDesignedFonts();
    ApplyDesignedStyle();
}

bool TQuarvexApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowErrorMessage(activeWindow(), QString::fromUtf8(e.what()));
    } catch (...) {
        ShowErrorMessage(activeWindow(), "An unexpected error stopped the command.");
    }
    return false;
}

} // namespace quarvex
