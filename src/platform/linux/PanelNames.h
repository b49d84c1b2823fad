#pragma once
// Connector names of built-in panels ("eDP-1", "eDP1", "LVDS-1", "DSI-1"), the one list for
// every display backend: drivers do not mark panels reliably in any other way.

#include <string_view>

bool isPanelConnectorName(std::string_view name);
