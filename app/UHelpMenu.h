// The help menu of the main window (PopupMenu1): pages of the maker's web
// site in the default browser, two with the program's version attached,
// and the About box.
#pragma once

#include <QString>
#include <vector>

class QMenu;
class QWidget;

namespace quarvex {

struct THelpEntry {
    QString Item;    // the menu item's name ("Howto1", "N1", ...)
    QString Caption; // "-" for a separator
    QString Address; // the page it opens; empty for separators and "About"
};

// The ten entries in menu order, addresses built from WebBaseAddress and AppVersion.
std::vector<THelpEntry> HelpEntries();

// PopupMenu1, owned by owner; each action carries the item name as its
// object name and opens its page, "About" shows the About box.
QMenu* CreateHelpMenu(QWidget* owner);

// Asks the desktop to show the address; when no browser can be started, an
// error box over owner names the address.
void OpenWebPage(QWidget* owner, const QString& address);

} // namespace quarvex
