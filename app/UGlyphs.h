// The small glyph images of the tool buttons, drawn for this program.
#pragma once

#include <QIcon>

namespace quarvex {

enum class TGlyph {
    OpenFile,   // a folder
    ExportShp,  // a layer sheet with a disk
    DxfGpx,     // a drawing with a route
    Batch,      // a stack of files
    Help,       // a question mark in a circle
    Close,      // a door with an arrow
    Select,     // an arrow (map toolbar)
    ZoomIn,     // a magnifier with plus
    ZoomOut,    // a magnifier with minus
    Extent,     // four corners (whole map)
};

// A 16 x 16 glyph, or 32 x 32 for the job window's Close button.
QIcon GlyphIcon(TGlyph glyph, int size = 16);

} // namespace quarvex
