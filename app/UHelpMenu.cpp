#include "app/UHelpMenu.h"

#include "app/UAbout.h"
#include "app/UDialogHook.h"
#include "platform/UProgramInfo.h"

#include <QMenu>

namespace quarvex {

std::vector<THelpEntry> HelpEntries()
{
    const QString base = QString::fromStdString(WebBaseAddress);
    const QString tool = "QUARVEX:" + QString::fromStdString(AppVersion);
    return {
        {"Howto1", "Help - How to...", base + "software/howto/quarvex.html"},
        {"Quarvexpage1", "Quarvex page", base + "quarvex.html"},
        {"MoreGoogleEarthrelated1", "More Google Earth related", base + "ge_cat.html"},
        {"SoftwareIndex1", "Software Index", base},
        {"N1", "-", ""},
        {"CommentsSuggestions1", "Comments/Suggestions", base + "software/share/softsugest.php?toolname=" + tool},
        {"Reportaproblem1", "Report a problem", base + "software/share/softreport.php?toolname=" + tool},
        {"N2", "-", ""},
        {"Disclaimer1", "Disclaimer", base + "software/share/disclaimer.html"},
        {"About1", "About", ""},
    };
}

QMenu* CreateHelpMenu(QWidget* owner)
{
    auto* menu = new QMenu(owner);
    menu->setObjectName("PopupMenu1");
    for (const THelpEntry& entry : HelpEntries()) {
        QAction* action = entry.Caption == "-" ? menu->addSeparator() : menu->addAction(entry.Caption);
        action->setObjectName(entry.Item);
        if (entry.Item == "About1")
            QObject::connect(action, &QAction::triggered, owner, [owner] { ShowAbout(owner); });
        else if (!entry.Address.isEmpty())
            QObject::connect(action, &QAction::triggered, owner, [owner, address = entry.Address] { OpenWebPage(owner, address); });
    }
    return menu;
}

void OpenWebPage(QWidget* owner, const QString& address)
{
    if (!DialogHook().OpenUrl(address))
        DialogHook().Message(owner, TMessageKind::Error,
                             "No web browser could be started to open " + address +
                                 "\n\nOpen this address in a web browser yourself.");
}

} // namespace quarvex
