#pragma once
// One message of the tips feed, ready for display.

#include <QString>

#include <optional>

struct TipMessage {
    QString text;                     // in the current language; may be empty
    std::optional<QString> colorHex;  // "#RRGGBB" as written in the feed
    std::optional<QString> imageURL;
    std::optional<QString> linkURL;

    bool operator==(const TipMessage&) const = default;
};
