#include "frame/PathPane.h"

#include <QPainter>
#include <QStyle>

PathPane::PathPane(QWidget* parent) : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Preferred, sizePolicy().verticalPolicy());
}

QString PathPane::shownText() const
{
    const int room = contentsRect().width() - 2 * margin();
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, std::max(0, room));
}

QSize PathPane::minimumSizeHint() const
{
    QSize size = QLabel::minimumSizeHint();
    if (text().isEmpty()) {
        return size;
    }
    const int frame = width() - contentsRect().width();
    size.setWidth(fontMetrics().horizontalAdvance(QStringLiteral("\u2026")) + 2 * margin() +
                  frame);
    return size;
}

void PathPane::paintEvent(QPaintEvent* event)
{
    // QLabel would draw the whole text and let the neighbouring panes cover its end.
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(), shownText(),
                          foregroundRole());
}
