#pragma once

#include "common/Message.h"

#include <QString>
#include <string>

namespace tarnvel::gui {

// A message of the tables in the chosen language (QObject::tr hides tarnvel::tr in widgets).
inline QString qtext(const MessagePair& m)
{
    return QString::fromUtf8(tarnvel::tr(m));
}

inline QString qstr(const std::string& s)
{
    return QString::fromStdString(s);
}

} // namespace tarnvel::gui
