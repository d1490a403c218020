#include "app/file_list_view.h"

#include <QPainter>

namespace kelvaro::app {

TFileListView::TFileListView(QWidget* parent) : QTreeWidget(parent) {}

void TFileListView::SetEmptyHint(const QString& hint)
{
    emptyHint_ = hint;
    viewport()->update();
}

void TFileListView::paintEvent(QPaintEvent* event)
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
