#pragma once
// Sizes that are the specified ones at the desktop's usual font and grow with a larger one,
// so that no text is ever cut.

#include <QSize>

class QPushButton;
class QWidget;

namespace kelvaro::app {

// At least `width` × `height`, or what the widget's size hint asks for.
void SizeAtLeast(QWidget* widget, int width, int height);
// The same for a button, measured by its text: the style's own hint would make every button
// at least 80 wide, wider than specified at any font.
void SizeAtLeast(QPushButton* button, int width, int height);
// A one-line field: at least `height`, or what its font needs.
int FieldHeight(const QWidget* field, int height);
// The size a window with a layout starts at and never goes below: the specified one, or what
// its contents need at that width (wrapped texts included).
QSize FittingSize(const QWidget* window, const QSize& specified);

}  // namespace kelvaro::app
