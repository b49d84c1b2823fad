#include "app/RemoteRequest.h"

#include <QList>

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<const char*, RemoteRequest::Verb>, 6> kVerbs = {{
    {"toggle", RemoteRequest::Verb::toggle},
    {"on", RemoteRequest::Verb::on},
    {"off", RemoteRequest::Verb::off},
    {"warmth", RemoteRequest::Verb::warmth},
    {"brightness", RemoteRequest::Verb::brightness},
    {"quit", RemoteRequest::Verb::quit},
}};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<RemoteRequest::Verb> RemoteRequest::verbNamed(const QByteArray& name)
{
    for (const auto& [text, verb] : kVerbs) {
        if (name == text)
            return verb;
    }
    return std::nullopt;
}

std::optional<double> RemoteRequest::parseValue(const QByteArray& text)
{
    // Strictly "D", "DD", "DDD" with an optional ".D" to ".DD": no sign, exponent or spaces.
    const qsizetype dot = text.indexOf('.');
    const QByteArray whole = dot < 0 ? text : text.left(dot);
    const QByteArray fraction = dot < 0 ? QByteArray() : text.mid(dot + 1);
    if (whole.isEmpty() || whole.size() > 3 || (dot >= 0 && (fraction.isEmpty() || fraction.size() > 2)))
        return std::nullopt;
    for (char c : whole + fraction) {
        if (!isDigit(c))
            return std::nullopt;
    }
    const double value = text.toDouble();
    if (value > 100.0)
        return std::nullopt;
    return value;
}

std::optional<RemoteRequest> RemoteRequest::parse(const QByteArray& line)
{
    if (line.size() >= maxLineLength)
        return std::nullopt;
    const QList<QByteArray> words = line.split(' ');
    const std::optional<Verb> verb = verbNamed(words.value(0));
    if (!verb)
        return std::nullopt;
    RemoteRequest request;
    request.verb = *verb;
    if (words.size() != (request.takesValue() ? 2 : 1))
        return std::nullopt;
    if (request.takesValue()) {
        const std::optional<double> value = parseValue(words[1]);
        if (!value)
            return std::nullopt;
        request.value = *value;
    }
    return request;
}

QByteArray RemoteRequest::line() const
{
    QByteArray text;
    for (const auto& [name, candidate] : kVerbs) {
        if (candidate == verb)
            text = name;
    }
    if (takesValue())
        text += ' ' + QByteArray::number(value, 'g', 6);
    return text;
}
