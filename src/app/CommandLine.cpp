#include "app/CommandLine.h"

#include "app/RemoteControl.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace CommandLine {

namespace {

constexpr int kUsageError = 2;

Invocation failure(const QString& message)
{
    Invocation invocation;
    invocation.kind = Invocation::Kind::error;
    invocation.error = QStringLiteral("ambrano: ") + message;
    return invocation;
}

}  // namespace

QString helpText()
{
    return QStringLiteral(
        "Usage: ambrano [OPTION]\n"
        "Takes blue light off every display and dims them in software. Without an option it\n"
        "starts in the system tray; with one it controls the copy that is already running.\n"
        "\n"
        "  --toggle          switch the filter on or off\n"
        "  --on              switch the filter on\n"
        "  --off             switch the filter off\n"
        "  --warmth N        set the warmth, 0 to 100, and switch the filter on\n"
        "  --brightness N    set the brightness, 10 to 100 (1 to 100 with extreme dimming\n"
        "                    allowed), and switch the filter on\n"
        "  --quit            restore the displays and end the running copy\n"
        "  -h, --help        show this help\n"
        "  --version         show the version\n"
        "\n"
        "Exit status: 0 done, 1 no running copy or the request was refused, 2 wrong arguments.\n");
}

Invocation parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList {QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOption(help);
    parser.addOption(version);
    for (const char* verb : {"toggle", "on", "off", "quit"})
        parser.addOption(QCommandLineOption(QString::fromLatin1(verb)));
    for (const char* verb : {"warmth", "brightness"})
        parser.addOption(QCommandLineOption(QString::fromLatin1(verb), QString(), QStringLiteral("N")));

    if (!parser.parse(arguments))
        return failure(parser.errorText() + QStringLiteral(" (see ambrano --help)"));
    if (!parser.positionalArguments().isEmpty())
        return failure(QStringLiteral("unexpected argument '%1' (see ambrano --help)").arg(parser.positionalArguments().first()));
    Invocation invocation;
    if (parser.isSet(help)) {
        invocation.kind = Invocation::Kind::help;
        return invocation;
    }
    if (parser.isSet(version)) {
        invocation.kind = Invocation::Kind::version;
        return invocation;
    }
    const QStringList names = parser.optionNames();
    if (names.isEmpty())
        return invocation;
    if (names.size() > 1)
        return failure(QStringLiteral("give one request at a time (see ambrano --help)"));
    invocation.kind = Invocation::Kind::control;
    invocation.request.verb = *RemoteRequest::verbNamed(names.first().toLatin1());
    if (invocation.request.takesValue()) {
        const std::optional<double> value = RemoteRequest::parseValue(parser.value(names.first()).toLatin1());
        if (!value)
            return failure(QStringLiteral("--%1 needs a number from 0 to 100").arg(names.first()));
        invocation.request.value = *value;
    }
    return invocation;
}

Invocation parse(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return parse(arguments);
}

int runWithoutDisplay(const Invocation& invocation, LocalOwner& owner, int argc, char** argv)
{
    switch (invocation.kind) {
    case Invocation::Kind::run:
        return 0;
    case Invocation::Kind::help:
        std::fputs(qPrintable(helpText()), stdout);
        return 0;
    case Invocation::Kind::version:
        std::printf("ambrano %s\n", AMBRANO_VERSION);
        return 0;
    case Invocation::Kind::error:
        std::fprintf(stderr, "%s\n", qPrintable(invocation.error));
        return kUsageError;
    case Invocation::Kind::control:
        break;
    }
    QCoreApplication app(argc, argv);
    const RemoteControl::Answer answer = RemoteControl::send(owner, RemoteControl::runtimeFolder(), invocation.request);
    switch (answer.outcome) {
    case RemoteControl::Outcome::done:
        return 0;
    case RemoteControl::Outcome::refused:
        std::fprintf(stderr, "ambrano: %s\n", qPrintable(answer.message));
        return 1;
    case RemoteControl::Outcome::notRunning:
        break;
    }
    std::fprintf(stderr, "ambrano: not running (start it first)\n");
    return 1;
}

}  // namespace CommandLine
