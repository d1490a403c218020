#include "app/status_line.h"

#include <QPainter>
#include <QStyle>

namespace kelvaro::app {

TStatusLine::TStatusLine(QWidget* parent) : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void TStatusLine::SetText(const QString& text)
{
    setText(text);
    setToolTip(text.trimmed().isEmpty() ? QString() : text);
}

QString TStatusLine::ShownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

QSize TStatusLine::minimumSizeHint() const
{
    return {0, QLabel::minimumSizeHint().height()};
}

void TStatusLine::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, palette(),
                          isEnabled(), ShownText(), foregroundRole());
}

}  // namespace kelvaro::app
