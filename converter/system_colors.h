#pragma once
// Colours as the option records hold them: blue, green and red bytes with red lowest, or a
// reference to a system colour (high byte 0xFF, low byte the colour's index) that the
// component resolves through its colour table. An application replaces the table with its
// own palette; the default holds common desktop defaults.

#include <array>
#include <cstdint>

namespace kelvaro {

using TColor = uint32_t;

inline constexpr TColor kSystemColorFlag = 0xFF000000u;
inline constexpr int kSystemColorCount = 31;

// Indexes of the system colours a table holds.
enum TSystemColor : uint8_t {
    scScrollBar,
    scBackground,
    scActiveCaption,
    scInactiveCaption,
    scMenu,
    scWindow,
    scWindowFrame,
    scMenuText,
    scWindowText,
    scCaptionText,
    scActiveBorder,
    scInactiveBorder,
    scAppWorkspace,
    scHighlight,
    scHighlightText,
    scButtonFace,
    scButtonShadow,
    scGrayText,
    scButtonText,
    scInactiveCaptionText,
    scButtonHighlight,
    scDarkShadow3D,
    scLight3D,
    scInfoText,
    scInfoBackground,
    scUnused,
    scHotLight,
    scGradientActiveCaption,
    scGradientInactiveCaption,
    scMenuHighlight,
    scMenuBar
};

using TSystemColorTable = std::array<TColor, kSystemColorCount>;

// A colour value that refers to system colour `index`.
constexpr TColor SystemColorReference(TSystemColor index)
{
    return kSystemColorFlag | index;
}

const TSystemColorTable& DefaultSystemColors();

// Red, green and blue of `color` with red in the low byte; a system colour is looked up in
// `table`, one the table does not hold is black.
uint32_t ColorToRgb(TColor color, const TSystemColorTable& table);

}  // namespace kelvaro
