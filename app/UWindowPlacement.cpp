#include "app/UWindowPlacement.h"

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

} // namespace quarvex
