// What every run of the desktop program sets up before its first window.
#pragma once

#include <QString>

namespace quarvex {

// The designed fonts (MS Sans Serif, Arial, Times New Roman, Courier New)
// map to their metric twins, or the nearest family, where the machine lacks them.
void SubstituteDesignedFonts();

// Drop-down lists open as a list below their box, as designed, showing at
// most their maximum visible rows: some styles open a menu over the box
// instead, as tall as the screen, whatever that maximum says.
void ApplyDesignedStyle();

// The organisation and application names, which also name the settings
// file (~/.config/quarvex/quarvex.conf, or under $XDG_CONFIG_HOME).
void SetProgramNames();

// The folder the open dialog starts in: that of the last file opened, in
// this session or an earlier one; empty when none is known or it is gone.
QString LastOpenFolder();
// Remembers the folder of file for the next open dialog, this session or a later one.
void RememberOpenFolder(const QString& file);

} // namespace quarvex
