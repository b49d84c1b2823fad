#include "system/ConflictDetector.h"

namespace ConflictDetector {

namespace {

RunningApplications* source = nullptr;

enum class Attribute { name, identifier };
// A word test wants the text with no letter or digit right before or after it: a process
// name is not chosen to be unique the way an identifier is ("osiris" is no Iris, and
// "lunarclient" no Lunar), while "iris-mini" or "redshift-gtk" still count.
enum class Test { equals, contains, word };

struct Rule {
    Attribute attribute;
    Test test;
    const char* text;
    const char* shownName;
};

// Order matters: the first rule that matches an application decides.
constexpr Rule rules[] = {
    {Attribute::name, Test::equals, "flux", "f.lux"},
    {Attribute::name, Test::word, "f.lux", "f.lux"},
    {Attribute::identifier, Test::contains, "herf.flux", "f.lux"},
    {Attribute::name, Test::word, "iris", "Iris"},
    {Attribute::identifier, Test::contains, "iris", "Iris"},
    {Attribute::name, Test::word, "lunar", "Lunar"},
    {Attribute::identifier, Test::contains, "lunar", "Lunar"},
    {Attribute::name, Test::word, "gammy", "Gammy"},
    {Attribute::name, Test::word, "redshift", "Redshift"},  // also redshift-gtk and redshift-qt
    // The Linux peers, by the names their processes run under.
    {Attribute::name, Test::word, "gammastep", "Gammastep"},  // also gammastep-indicator (a script: "gammastep-indic")
    {Attribute::name, Test::word, "wlsunset", "wlsunset"},
    {Attribute::name, Test::equals, "xsct", "xsct"},
    {Attribute::name, Test::equals, "sct", "sct"},
    {Attribute::name, Test::word, "hyprsunset", "hyprsunset"},
    {Attribute::name, Test::equals, "wl-gammarelay-rs", "wl-gammarelay-rs"},
    {Attribute::name, Test::word, "wl-gammarelay", "wl-gammarelay"},
    {Attribute::name, Test::word, "clight", "Clight"},
};

bool containsWord(const QString& value, const QString& text)
{
    auto wordChar = [&](qsizetype i) { return i >= 0 && i < value.size() && value[i].isLetterOrNumber(); };
    for (qsizetype at = value.indexOf(text); at >= 0; at = value.indexOf(text, at + 1)) {
        if (!wordChar(at - 1) && !wordChar(at + text.size()))
            return true;
    }
    return false;
}

bool matches(const Rule& rule, const QString& value)
{
    const QString text = QString::fromLatin1(rule.text);
    switch (rule.test) {
    case Test::equals:
        return value == text;
    case Test::contains:
        return value.contains(text);
    case Test::word:
        return containsWord(value, text);
    }
    return false;
}

}  // namespace

void setRunningApplications(RunningApplications* applications)
{
    source = applications;
}

std::optional<QString> conflicting()
{
    if (!source)
        return std::nullopt;
    return conflicting(source->runningApplications());
}

std::optional<QString> conflicting(const std::vector<RunningApplication>& applications)
{
    for (const RunningApplication& app : applications) {
        const QString name = app.localizedName.value_or(QString()).toLower();
        const QString id = app.bundleIdentifier.value_or(QString()).toLower();
        for (const Rule& rule : rules) {
            if (matches(rule, rule.attribute == Attribute::name ? name : id))
                return QString::fromLatin1(rule.shownName);
        }
    }
    return std::nullopt;
}

}  // namespace ConflictDetector
