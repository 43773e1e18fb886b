// Placement of the program's windows on the screen.
#pragma once

#include <QPoint>
#include <QSize>

class QWidget;

namespace quarvex {

// Top left corner that centres a window of windowSize on a work area of
// areaSize: (area width div 2 - window width div 2, the same for heights).
// The work area's own left and top edges are not added.
QPoint CentredPosition(QSize areaSize, QSize windowSize);

// Moves window so that it is centred on owner's frame.
void CentreOnOwner(QWidget& window, const QWidget* owner);
// Centres window on owner each time it is shown, when its frame is known.
void CentreWhenShown(QWidget& window, const QWidget* owner);

} // namespace quarvex
