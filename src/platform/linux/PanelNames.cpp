#include "platform/linux/PanelNames.h"

#include <cctype>

bool isPanelConnectorName(std::string_view name)
{
    for (std::string_view prefix : {"eDP", "LVDS", "DSI", "LCD"}) {
        if (name.size() < prefix.size())
            continue;
        bool same = true;
        for (size_t i = 0; i < prefix.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(name[i])) == std::tolower(static_cast<unsigned char>(prefix[i]));
        if (same)
            return true;
    }
    return false;
}
