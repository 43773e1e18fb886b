#include "app/UWindowPlacement.h"

#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <functional>

namespace quarvex {

QPoint CentredPosition(QSize areaSize, QSize windowSize)
{
    return QPoint(areaSize.width() / 2 - windowSize.width() / 2, areaSize.height() / 2 - windowSize.height() / 2);
}

QPoint CentredOn(const QRect& ownerFrame, QSize frameSize)
{
    return QPoint(ownerFrame.x() + (ownerFrame.width() - frameSize.width()) / 2,
                  ownerFrame.y() + (ownerFrame.height() - frameSize.height()) / 2);
}

QRect FitInside(const QRect& available, const QRect& frame)
{
    if (available.isEmpty())
        return frame;
    const QSize size = frame.size().boundedTo(available.size());
    const int x = std::clamp(frame.x(), available.left(), available.left() + available.width() - size.width());
    const int y = std::clamp(frame.y(), available.top(), available.top() + available.height() - size.height());
    return QRect(QPoint(x, y), size);
}

namespace {

bool FrameKnown(const QWidget& window)
{
    return window.frameGeometry() != window.geometry();
}

QMargins MarginsOf(const QWidget& window)
{
    const QRect frame = window.frameGeometry(), client = window.geometry();
    return QMargins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                    frame.bottom() - client.bottom());
}

// Puts the frame's top left corner at position. Once a window is on the
// screen, Qt takes a position as the frame's only when it knows the frame;
// until then it places the client area there, so the estimate is added.
void MoveFrameTo(QWidget& window, QPoint position, const QMargins& estimate)
{
    if (window.testAttribute(Qt::WA_WState_Created) && !FrameKnown(window))
        position += QPoint(estimate.left(), estimate.top());
    window.move(position);
}

// Runs place when the window is shown, and once more when the window
// system has told the frame: some only tell it after the window is mapped,
// with no event of its own, so the events that follow the mapping (and a
// last check a little later) look for it.
class TFramePlacer : public QObject {
public:
    TFramePlacer(QWidget& window, std::function<void()> place)
        : QObject(&window), window_(window), place_(std::move(place))
    {
        lateCheck_.setSingleShot(true);
        lateCheck_.setInterval(250);
        connect(&lateCheck_, &QTimer::timeout, this, [this] { PlaceOnceFrameKnown(); });
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != &window_)
            return false;
        switch (event->type()) {
        case QEvent::Show:
            placedWithFrame_ = FrameKnown(window_);
            place_();
            lateCheck_.start();
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowActivate:
        case QEvent::Paint: PlaceOnceFrameKnown(); break;
        default: break;
        }
        return false;
    }

private:
    void PlaceOnceFrameKnown()
    {
        if (placedWithFrame_ || !window_.isVisible() || !FrameKnown(window_))
            return;
        placedWithFrame_ = true;
        place_();
    }

    QWidget& window_;
    std::function<void()> place_;
    QTimer lateCheck_;
    bool placedWithFrame_ = false;
};

} // namespace

QRect FrameOf(const QWidget& window, const QMargins& estimate)
{
    return FrameKnown(window) ? window.frameGeometry() : window.geometry().marginsAdded(estimate);
}

void KeepInsideScreen(QWidget& window, QPoint designedPosition, QSize designedFrame)
{
    const QMargins estimate(0, 0, designedFrame.width() - window.width(), designedFrame.height() - window.height());
    auto place = [&window, estimate] {
        const QScreen* screen = window.screen();
        if (!screen)
            return;
        const QRect frame = FrameOf(window, estimate);
        const QRect fitted = FitInside(screen->availableGeometry(), frame);
        if (fitted.size() != frame.size())
            window.resize(window.size() - (frame.size() - fitted.size()));
        if (fitted.topLeft() != frame.topLeft())
            MoveFrameTo(window, fitted.topLeft(), estimate);
    };
    window.move(designedPosition);
    place();
    window.installEventFilter(new TFramePlacer(window, place));
}

void CentreOnOwner(QWidget& window, const QWidget* owner)
{
    if (!owner)
        return;
    // Until the window system tells this window's frame, it is taken to be
    // like the owner's: the same title bar and borders.
    const QMargins estimate = MarginsOf(*owner);
    const QRect frame = FrameOf(window, estimate);
    MoveFrameTo(window, CentredOn(owner->frameGeometry(), frame.size()), estimate);
}

void CentreWhenShown(QWidget& window, const QWidget* owner)
{
    if (owner)
        window.installEventFilter(new TFramePlacer(window, [&window, owner] { CentreOnOwner(window, owner); }));
}

} // namespace quarvex
