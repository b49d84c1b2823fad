#pragma once
// Control of the running instance from the command line (`ambrano --toggle`, bound to a key
// in the compositor's own configuration): a local socket in the user's runtime folder, which
// only this user can reach, one request line per connection and one answer line back.

#include "app/RemoteRequest.h"
#include "platform/LocalOwner.h"

#include <QLocalServer>
#include <QObject>

#include <functional>

class QLocalSocket;

class RemoteControl : public QObject {
    Q_OBJECT

public:
    // A connection that says nothing useful in this time is dropped.
    static constexpr int requestTimeoutMs = 2000;
    static constexpr int maxConnections = 4;
    // How long `--quit` waits for the instance to be gone (restoring may take DDC traffic).
    static constexpr int quitWaitMs = 30000;

    explicit RemoteControl(LocalOwner& owner, QObject* parent = nullptr);
    ~RemoteControl() override;

    // The user's runtime folder (the single-instance lock lives there too).
    static QString runtimeFolder();
    static QString socketPath(const QString& folder);

    // Starts taking requests. Only the holder of the single-instance lock calls it: a socket
    // left by a killed instance is replaced. False, with a line on stderr, when the folder is
    // not private or the socket cannot be made.
    bool listen(const QString& folder);

    // What --quit runs: the application's own quit path, which restores the displays.
    std::function<void()> onQuit;

    // Carries out a request as the panel would. Empty when done, else why it was refused.
    QString perform(const RemoteRequest& request);

    // The sending side.
    enum class Outcome { done, refused, notRunning };
    struct Answer {
        Outcome outcome = Outcome::notRunning;
        QString message;
    };
    static Answer send(LocalOwner& owner, const QString& folder, const RemoteRequest& request, int timeoutMs = 5000);

private:
    void accept();
    void read(QLocalSocket* socket);
    void answer(QLocalSocket* socket, const QByteArray& reply, bool close);

    LocalOwner& owner_;
    QLocalServer server_;
    int connections_ = 0;
};
