// Files dragged from the desktop onto a window: which of them are local
// files, and which are KML or KMZ documents.
#pragma once

#include <QString>
#include <QStringList>

class QMimeData;

namespace quarvex {

// The local files of a drag, as absolute paths in the drag's order: file
// addresses without a host or of this machine; anything else is left out.
QStringList DroppedLocalFiles(const QMimeData& mime);

// True when the path's last extension is .kml or .kmz in any case, so that
// "x.kml.bak" is not a KML file.
bool IsKmlOrKmzName(const QString& path);

} // namespace quarvex
