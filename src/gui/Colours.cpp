#include "gui/Colours.h"

#include "app/ColourValue.h"

namespace tarnvel::gui {

QColor settingColour(std::int32_t setting, const QPalette& palette)
{
    const app::ColourValue c = app::decodeColour(setting);
    if (!c.system)
        return QColor(c.red, c.green, c.blue);
    // The desktop colours by their old numbers, as the palette has them.
    switch (c.systemIndex) {
    case 5: // window
        return palette.color(QPalette::Base);
    case 6:  // window frame
    case 21: // dark shadow
        return palette.color(QPalette::Shadow);
    case 7: // menu text
    case 8: // window text
        return palette.color(QPalette::Text);
    case 13: // highlight
        return palette.color(QPalette::Highlight);
    case 14: // highlighted text
        return palette.color(QPalette::HighlightedText);
    case 16: // button shadow
        return palette.color(QPalette::Dark);
    case 17: // grey text
        return palette.color(QPalette::Disabled, QPalette::Text);
    case 18: // button text
        return palette.color(QPalette::ButtonText);
    case 20: // button highlight
    case 22: // light
        return palette.color(QPalette::Light);
    case 23: // tooltip text
        return palette.color(QPalette::ToolTipText);
    case 24: // tooltip background
        return palette.color(QPalette::ToolTipBase);
    case 15: // button face
    default:
        return palette.color(QPalette::Button);
    }
}

} // namespace tarnvel::gui
