#include "ui/DisplayWarning.h"

#include "engine/VeskEngine.h"
#include "system/Localization.h"

#include <QStringList>

namespace {

// The names of the displays with this result, as the user knows them.
QString names(const std::vector<VeskEngine::DisplayProblem>& problems, GammaResult result)
{
    QStringList list;
    for (const auto& problem : problems) {
        if (problem.result == result && problem.display != sessionDisplay)
            list << QString::fromStdString(problem.name.empty() ? std::to_string(problem.display) : problem.name);
    }
    return list.join(QStringLiteral(", "));
}

}  // namespace

bool DisplayWarning::filterVisible(const VeskEngine& engine)
{
    DisplayServices* displays = engine.displayServices();
    if (!engine.enabled() || !displays)
        return false;
    return displays->activeDisplays().size() > engine.displayProblems().size();
}

std::optional<QString> DisplayWarning::text(const VeskEngine& engine)
{
    const std::vector<VeskEngine::DisplayProblem> problems = engine.displayProblems();
    if (problems.empty())
        return std::nullopt;
    if (problems.front().display == sessionDisplay)
        return L(QStringLiteral("colors_desktop"));
    const QString list = names(problems, GammaResult::unsupported);
    if (list.isEmpty())
        return std::nullopt;
    QString sentence = L(QStringLiteral("colors_unsupported"));
    return sentence.replace(QStringLiteral("%@"), list);
}

QString DisplayWarning::logLine(const VeskEngine& engine)
{
    const std::vector<VeskEngine::DisplayProblem> problems = engine.displayProblems();
    if (problems.empty())
        return QStringLiteral("display: every display took the tables");
    if (problems.front().display == sessionDisplay)
        return QStringLiteral("display: no display took the tables (no gamma control in this session)");
    QStringList parts;
    const QString held = names(problems, GammaResult::heldByOther);
    const QString unsupported = names(problems, GammaResult::unsupported);
    if (!held.isEmpty())
        parts << held + QStringLiteral(" held by another program");
    if (!unsupported.isEmpty())
        parts << unsupported + QStringLiteral(" take no gamma");
    return QStringLiteral("display: ") + parts.join(QStringLiteral("; "));
}
