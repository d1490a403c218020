#include "converter/system_colors.h"

namespace kelvaro {
namespace {

constexpr TColor Rgb(uint32_t red, uint32_t green, uint32_t blue)
{
    return red | green << 8 | blue << 16;
}

}  // namespace

const TSystemColorTable& DefaultSystemColors()
{
    static constexpr TSystemColorTable table = {
        Rgb(200, 200, 200),  // scroll bar
        Rgb(0, 0, 0),        // background
        Rgb(153, 180, 209),  // active caption
        Rgb(191, 205, 219),  // inactive caption
        Rgb(240, 240, 240),  // menu
        Rgb(255, 255, 255),  // window
        Rgb(100, 100, 100),  // window frame
        Rgb(0, 0, 0),        // menu text
        Rgb(0, 0, 0),        // window text
        Rgb(0, 0, 0),        // caption text
        Rgb(180, 180, 180),  // active border
        Rgb(244, 247, 252),  // inactive border
        Rgb(171, 171, 171),  // application workspace
        Rgb(0, 120, 215),    // highlight
        Rgb(255, 255, 255),  // highlight text
        Rgb(240, 240, 240),  // button face
        Rgb(160, 160, 160),  // button shadow
        Rgb(109, 109, 109),  // grey text
        Rgb(0, 0, 0),        // button text
        Rgb(0, 0, 0),        // inactive caption text
        Rgb(255, 255, 255),  // button highlight
        Rgb(105, 105, 105),  // 3-D dark shadow
        Rgb(227, 227, 227),  // 3-D light
        Rgb(0, 0, 0),        // tooltip text
        Rgb(255, 255, 225),  // tooltip background
        Rgb(0, 0, 0),        // unused
        Rgb(0, 102, 204),    // hot-tracked item
        Rgb(185, 209, 234),  // active caption gradient
        Rgb(215, 228, 242),  // inactive caption gradient
        Rgb(51, 153, 255),   // menu highlight
        Rgb(240, 240, 240),  // menu bar
    };
    return table;
}

uint32_t ColorToRgb(TColor color, const TSystemColorTable& table)
{
    if ((color & kSystemColorFlag) != kSystemColorFlag)
        return color & 0xFFFFFFu;
    const uint32_t index = color & 0xFFu;
    return index < table.size() ? table[index] & 0xFFFFFFu : 0;
}

}  // namespace kelvaro
