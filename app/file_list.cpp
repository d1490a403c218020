#include "app/file_list.h"

#include <QPainter>

namespace kelvaro::app {

TFileList::TFileList(QWidget* parent) : QTreeWidget(parent) {}

void TFileList::SetEmptyHint(const QString& hint)
{
    emptyHint_ = hint;
    viewport()->update();
}

void TFileList::paintEvent(QPaintEvent* event)
{
    QTreeWidget::paintEvent(event);
    if (topLevelItemCount() > 0 || emptyHint_.isEmpty())
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    painter.drawText(viewport()->rect().adjusted(8, 8, -8, -8),
                     Qt::AlignCenter | Qt::TextWordWrap, emptyHint_);
}

}  // namespace kelvaro::app
