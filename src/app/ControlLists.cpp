#include "app/ControlLists.h"

#include "app/AppMessages.h"
#include "app/Settings.h"

#include <charconv>

namespace tarnvel::app {

namespace {

ListChoice fromValues(const std::vector<int>& values, int stored)
{
    ListChoice c;
    for (int v : values)
        c.items.push_back(std::to_string(v));
    c.index = 0;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i] == stored)
            c.index = static_cast<int>(i);
    c.value = values[static_cast<std::size_t>(c.index)];
    c.text = c.items[static_cast<std::size_t>(c.index)];
    return c;
}

} // namespace

ListChoice muteTimeList(int seconds)
{
    return fromValues({1, 2, 3, 4, 5, 6, 7, 8}, seconds);
}

ListChoice autoIdLevelList(int level)
{
    return fromValues({-36, -42, -48, -54, -60, -66}, level);
}

ListChoice autoIdTimeList(int seconds)
{
    return fromValues({1, 2, 3, 4, 5, 6, 7, 8}, seconds);
}

ListChoice tapeLengthList(const std::string& preset, int minutes)
{
    ListChoice c;
    c.items = tapeLengthBoxItems(preset);
    c.value = minutes;
    if (minutes <= 0) {
        c.index = 0;
        c.value = 0;
        c.text = c.items.front();
        return c;
    }
    c.index = -1;
    c.text = std::to_string(minutes);
    for (std::size_t i = 1; i < c.items.size(); ++i)
        if (c.items[i] == c.text)
            c.index = static_cast<int>(i);
    return c;
}

int tapeLengthFromText(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return 0;
    int minutes = 0;
    const char* begin = text.data() + first;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(begin, end, minutes);
    if (ec == std::errc::result_out_of_range)
        return 500; // the longest the meter shows
    if (ec != std::errc() || p == begin || minutes < 0)
        return 0;
    return minutes;
}

std::vector<std::string> writeIdKinds()
{
    return {tr(msg::kIdStart), tr(msg::kIdSkip), tr(msg::kIdEnd)};
}

} // namespace tarnvel::app
