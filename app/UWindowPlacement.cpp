#include "app/UWindowPlacement.h"

#include <QEvent>
#include <QWidget>

namespace quarvex {

QPoint CentredPosition(QSize areaSize, QSize windowSize)
{
    return QPoint(areaSize.width() / 2 - windowSize.width() / 2, areaSize.height() / 2 - windowSize.height() / 2);
}

void CentreOnOwner(QWidget& window, const QWidget* owner)
{
    if (!owner)
        return;
    const QRect frame = owner->frameGeometry();
    const QSize size = window.frameGeometry().size();
    window.move(frame.x() + (frame.width() - size.width()) / 2, frame.y() + (frame.height() - size.height()) / 2);
}

namespace {
class TCentreOnShow : public QObject {
public:
    TCentreOnShow(QWidget& window, const QWidget* owner) : QObject(&window), window_(window), owner_(owner) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &window_ && event->type() == QEvent::Show)
            CentreOnOwner(window_, owner_);
        return false;
    }

private:
    QWidget& window_;
    const QWidget* owner_;
};
} // namespace

void CentreWhenShown(QWidget& window, const QWidget* owner)
{
    if (owner)
        window.installEventFilter(new TCentreOnShow(window, owner));
}

} // namespace quarvex
