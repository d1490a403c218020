#include "app/widget_size.h"

#include <QLayout>
#include <QPushButton>
#include <QStyle>
#include <algorithm>

namespace kelvaro::app {

void SizeAtLeast(QWidget* widget, int width, int height)
{
    widget->setFixedSize(QSize(width, height).expandedTo(widget->sizeHint()));
}

void SizeAtLeast(QPushButton* button, int width, int height)
{
    const QStyle* style = button->style();
    const int padding = 2 * (style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                             style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button));
    const QString text = QString(button->text()).remove('&');
    button->setFixedSize(std::max(width, button->fontMetrics().horizontalAdvance(text) + padding),
                         std::max(height, button->sizeHint().height()));
}

int FieldHeight(const QWidget* field, int height)
{
    // The text, its frame and a pixel of room above and below.
    return std::max(height, field->fontMetrics().height() + 6);
}

QSize FittingSize(const QWidget* window, const QSize& specified)
{
    const QLayout* layout = window->layout();
    QSize size = specified.expandedTo(layout->totalMinimumSize());
    if (layout->hasHeightForWidth())
        size.setHeight(std::max(size.height(), layout->totalHeightForWidth(size.width())));
    return size;
}

}  // namespace kelvaro::app
