#pragma once
// One request of the command-line control: a verb and, for warmth and brightness, a value.
// On the wire it is one short line ("warmth 40\n"); anything else is refused.

#include <QByteArray>
#include <QString>

#include <optional>

struct RemoteRequest {
    enum class Verb { toggle, on, off, warmth, brightness, quit };

    // Longest line accepted, line feed included.
    static constexpr int maxLineLength = 32;

    Verb verb = Verb::toggle;
    double value = 0;

    // The request of a line without its line feed; absent for anything malformed.
    static std::optional<RemoteRequest> parse(const QByteArray& line);
    // A value as the user writes it: digits with an optional fraction, 0 to 100.
    static std::optional<double> parseValue(const QByteArray& text);
    static std::optional<Verb> verbNamed(const QByteArray& name);

    QByteArray line() const;
    bool takesValue() const { return verb == Verb::warmth || verb == Verb::brightness; }
};
