#pragma once
// The program's arguments: a plain start, --help, --version, or one control request for the
// running instance. Everything but a plain start runs without a display server.

#include "app/RemoteRequest.h"
#include "platform/LocalOwner.h"

#include <QString>
#include <QStringList>

namespace CommandLine {

struct Invocation {
    enum class Kind { run, help, version, control, error };
    Kind kind = Kind::run;
    RemoteRequest request;
    // For `error`: the one line to print.
    QString error;
};

// `arguments` includes the program name first, as argv does.
Invocation parse(const QStringList& arguments);
Invocation parse(int argc, char** argv);
QString helpText();

// Prints help or version, or sends the request and reports the answer; the exit status.
int runWithoutDisplay(const Invocation& invocation, LocalOwner& owner, int argc, char** argv);

}  // namespace CommandLine
