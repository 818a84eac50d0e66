#include "app/SubcodeWindowModel.h"

#include "app/AppMessages.h"
#include "app/CompactPath.h"

namespace tarnvel::app {

void SubcodeWindowModel::setMode(int mode)
{
    mode_ = (mode == kModeCreating || mode == kModeReading) ? mode : kModeDump;
    SubcodeWindowLayout l;
    if (mode_ == kModeDump) {
        l.caption = tr(msg::kSubcodeWindowDump);
        l.width = 370;
        l.height = 335;
        l.textLeft = 5;
        l.textTop = 5;
        l.textWidth = l.width - 16;
        l.textHeight = l.height - 30;
        l.dropBelowCentre = 40;
    } else {
        l.caption = tr(msg::kSubcodeWindowFile);
        l.width = 520;
        l.height = 52;
        l.labelVisible = true;
        l.label = tr(mode_ == kModeCreating ? msg::kSubcodeCreating : msg::kSubcodeReading);
        l.textLeft = 68;
        l.textTop = 5;
        l.textWidth = 430;
        l.textHeight = 18;
        l.dropBelowCentre = 120;
    }
    layout_ = l;
}

const std::string& SubcodeWindowModel::setText(const std::string& text,
                                               const std::function<bool(const std::string&)>& fits)
{
    std::string kept = text.substr(0, kMaxText);
    // Never end inside a UTF-8 character.
    while (!kept.empty() && kept.size() < text.size() &&
           (static_cast<unsigned char>(text[kept.size()]) & 0xC0) == 0x80)
        kept.pop_back();
    text_ = mode_ == kModeDump ? kept : compactPath(kept, fits);
    return text_;
}

std::pair<int, int> SubcodeWindowModel::placement(int mainX, int mainY, int mainWidth,
                                                  int mainHeight) const
{
    const int x = mainX + (mainWidth - layout_.width) / 2;
    const int y = mainY + (mainHeight - layout_.height) / 2 + layout_.dropBelowCentre;
    return {x, y};
}

} // namespace tarnvel::app
