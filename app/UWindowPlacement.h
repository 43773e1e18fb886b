// Placement of the program's windows on the screen.
#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace quarvex {

// Top left corner that centres a window of windowSize on a work area of
// areaSize: (area width div 2 - window width div 2, the same for heights).
// The work area's own left and top edges are not added.
QPoint CentredPosition(QSize areaSize, QSize windowSize);

// Top left corner of a frame of frameSize centred on the frame ownerFrame.
QPoint CentredOn(const QRect& ownerFrame, QSize frameSize);

// The frame moved, and only when it is larger than available also shrunk,
// so that it lies inside available; a frame that fits keeps its place.
QRect FitInside(const QRect& available, const QRect& frame);

// The window's frame, title bar and borders included; while the window
// system has not told them yet, they are taken as those of estimate.
QRect FrameOf(const QWidget& window, const QMargins& estimate);

// Keeps the main window inside its screen's available area: placed now at
// its designed frame position, and checked again once the window system
// tells its real frame. designedFrame is the outer size at 96 dots per inch.
void KeepInsideScreen(QWidget& window, QPoint designedPosition, QSize designedFrame);

// Moves window so that its frame is centred on owner's frame.
void CentreOnOwner(QWidget& window, const QWidget* owner);
// Centres window on owner each time it is shown, and once more when the
// window system has told the window's frame (title bar included).
void CentreWhenShown(QWidget& window, const QWidget* owner);

} // namespace quarvex
