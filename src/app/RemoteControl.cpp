#include "app/RemoteControl.h"

#include "engine/VeskEngine.h"
#include "schedule/AppSettings.h"
#include "system/EventLog.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>

namespace {

const QByteArray kDone = "ok";

}  // namespace

RemoteControl::RemoteControl(LocalOwner& owner, QObject* parent)
    : QObject(parent)
    , owner_(owner)
{
    connect(&server_, &QLocalServer::newConnection, this, &RemoteControl::accept);
}

RemoteControl::~RemoteControl()
{
    // The server takes its connections with it; their counting ends here.
    for (QLocalSocket* socket : server_.findChildren<QLocalSocket*>())
        socket->disconnect(this);
}

QString RemoteControl::runtimeFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

QString RemoteControl::socketPath(const QString& folder)
{
    return folder + QStringLiteral("/ambrano.sock");
}

bool RemoteControl::listen(const QString& folder)
{
    if (!owner_.folderIsPrivate(folder)) {
        std::fprintf(stderr, "ambrano: %s is not a private folder; command-line control is off\n",
            qPrintable(folder));
        return false;
    }
    const QString path = socketPath(folder);
    QLocalServer::removeServer(path);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(path)) {
        std::fprintf(stderr, "ambrano: command-line control is off (%s)\n", qPrintable(server_.errorString()));
        return false;
    }
    return true;
}

void RemoteControl::accept()
{
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (connections_ >= maxConnections || !owner_.peerIsOwner(socket->socketDescriptor())) {
            EventLog::shared().add(QStringLiteral("remote: refused a connection"));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++connections_;
        connect(socket, &QObject::destroyed, this, [this] { --connections_; });
        // Nothing grows past one line: the socket stops reading once this much is waiting.
        socket->setReadBufferSize(RemoteRequest::maxLineLength);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        QTimer::singleShot(requestTimeoutMs, socket, [socket] {
            if (!socket->property("answered").toBool())
                socket->abort();
        });
        read(socket);
    }
}

void RemoteControl::read(QLocalSocket* socket)
{
    if (socket->property("answered").toBool())
        return;
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() >= RemoteRequest::maxLineLength) {
            EventLog::shared().add(QStringLiteral("remote: refused a malformed request"));
            answer(socket, "refused malformed request", true);
        }
        return;
    }
    QByteArray line = socket->readLine(RemoteRequest::maxLineLength + 1);
    line.chop(1);
    // One line per connection: anything sent after it makes the whole request suspect.
    const std::optional<RemoteRequest> request = socket->bytesAvailable() == 0 ? RemoteRequest::parse(line) : std::nullopt;
    if (!request) {
        EventLog::shared().add(QStringLiteral("remote: refused a malformed request"));
        answer(socket, "refused malformed request", true);
        return;
    }
    EventLog::shared().add(QStringLiteral("remote: ") + QString::fromLatin1(request->line()));
    const QString refusal = perform(*request);
    // After quit the connection stays until the process ends: the sender waits for that.
    answer(socket, refusal.isEmpty() ? kDone : "refused " + refusal.toUtf8(), request->verb != RemoteRequest::Verb::quit);
}

void RemoteControl::answer(QLocalSocket* socket, const QByteArray& reply, bool close)
{
    socket->setProperty("answered", true);
    socket->write(reply + '\n');
    socket->flush();
    if (close)
        socket->disconnectFromServer();
}

QString RemoteControl::perform(const RemoteRequest& request)
{
    VeskEngine& engine = VeskEngine::shared();
    switch (request.verb) {
    case RemoteRequest::Verb::toggle:
        engine.toggle();
        break;
    case RemoteRequest::Verb::on:
        if (!engine.enabled())
            engine.setEnabled(true);
        break;
    case RemoteRequest::Verb::off:
        if (engine.enabled())
            engine.setEnabled(false);
        break;
    case RemoteRequest::Verb::warmth:
        engine.setWarmth(request.value);
        if (!engine.enabled())
            engine.setEnabled(true);
        break;
    case RemoteRequest::Verb::brightness: {
        // The panel's slider stops at the floor; so does this.
        const double floor = AppSettings::brightnessFloor();
        if (request.value < floor)
            return QStringLiteral("brightness must be between %1 and 100").arg(floor);
        engine.setBrightness(request.value);
        if (!engine.enabled())
            engine.setEnabled(true);
        break;
    }
    case RemoteRequest::Verb::quit:
        if (onQuit)
            onQuit();
        break;
    }
    return {};
}

RemoteControl::Answer RemoteControl::send(LocalOwner& owner, const QString& folder, const RemoteRequest& request, int timeoutMs)
{
    Answer result;
    // Only a socket in a folder nobody else can write to is the instance we started.
    if (!owner.folderIsPrivate(folder))
        return result;
    QLocalSocket socket;
    socket.connectToServer(socketPath(folder));
    if (!socket.waitForConnected(timeoutMs))
        return result;
    socket.write(request.line() + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return result;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return result;
    }
    QByteArray reply = socket.readLine(256).trimmed();
    if (reply == kDone) {
        result.outcome = Outcome::done;
        // Quitting: hold on until the instance has gone, so a start right after is not refused.
        if (request.verb == RemoteRequest::Verb::quit && socket.state() != QLocalSocket::UnconnectedState)
            socket.waitForDisconnected(quitWaitMs);
    } else {
        result.outcome = Outcome::refused;
        result.message = QString::fromUtf8(reply.startsWith("refused ") ? reply.mid(8) : reply);
    }
    return result;
}
