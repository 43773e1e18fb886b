// What every run of the desktop program sets up before its first window.
#pragma once

namespace quarvex {

// The designed fonts (MS Sans Serif, Arial, Times New Roman, Courier New)
// map to their metric twins, or the nearest family, where the machine lacks them.
void SubstituteDesignedFonts();

} // namespace quarvex
