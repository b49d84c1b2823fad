#pragma once
// The one way the app downloads anything (tips feed, update manifest and archive, location
// answer, tip pictures): a GET whose body is capped as it arrives, with an overall deadline
// and/or an idle timeout. A server that keeps sending, announces too much or stalls is cut off
// and never fills memory.

#include <QByteArray>
#include <QObject>
#include <QUrl>

#include <functional>

namespace Fetch {

enum class Failure {
    none,
    badAddress,  // not an absolute http(s) address: nothing was sent
    tooLarge,    // announced or sent more than the cap
    deadline,    // the whole transfer took longer than allowed
    idle,        // nothing arrived for too long
    network,     // no answer: refused, reset, unknown host
};

struct Limits {
    qint64 maxBytes = 0;
    int deadlineMs = 0;  // 0: none
    int idleMs = 0;      // 0: none
    // Names the download in the one log line written when it is cut off ("tips feed").
    const char* what = "download";
};

struct Result {
    Failure failure = Failure::none;
    // The HTTP status and body when an answer came; the status is the caller's business.
    int status = 0;
    QByteArray body;

    bool ok() const { return failure == Failure::none; }
};

// Starts the transfer and returns at once; main thread only. The completion runs exactly once
// on the main thread, never from inside get(), unless `context` is destroyed first: then the
// transfer is stopped and the completion dropped.
void get(const QUrl& url, const Limits& limits, QObject* context, std::function<void(const Result&)> completion);

}  // namespace Fetch
