#include "system/ConflictDetector.h"

namespace ConflictDetector {

namespace {

RunningApplications* source = nullptr;

enum class Attribute { name, identifier };
enum class Test { equals, contains };

struct Rule {
    Attribute attribute;
    Test test;
    const char* text;
    const char* shownName;
};

// Order matters: the first rule that matches an application decides.
constexpr Rule rules[] = {
    {Attribute::name, Test::equals, "flux", "f.lux"},
    {Attribute::name, Test::contains, "f.lux", "f.lux"},
    {Attribute::identifier, Test::contains, "herf.flux", "f.lux"},
    {Attribute::name, Test::contains, "iris", "Iris"},
    {Attribute::identifier, Test::contains, "iris", "Iris"},
    {Attribute::name, Test::contains, "lunar", "Lunar"},
    {Attribute::identifier, Test::contains, "lunar", "Lunar"},
    {Attribute::name, Test::contains, "gammy", "Gammy"},
    {Attribute::name, Test::contains, "redshift", "Redshift"},
};

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
            const QString& value = rule.attribute == Attribute::name ? name : id;
            const QString text = QString::fromLatin1(rule.text);
            const bool match = rule.test == Test::equals ? value == text : value.contains(text);
            if (match)
                return QString::fromLatin1(rule.shownName);
        }
    }
    return std::nullopt;
}

}  // namespace ConflictDetector
