#pragma once
// The program's icon for its windows, painted rather than loaded, so that it needs no image
// plugin. The desktop entry uses the SVG drawing of the same design
// (data/icons/org.kelvaro.Kelvaro.svg).

#include <QIcon>

namespace kelvaro::app {

QIcon AppIcon();

}  // namespace kelvaro::app
