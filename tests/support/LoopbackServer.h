#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the online services' tests. Serves fixed bodies by
// path, records every request, and can hold answers back until told to send them.

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

class LoopbackServer : public QObject {
public:
    struct Response {
        int status = 200;
        QByteArray body;
        bool sendLength = true;  // false: the body ends when the connection closes
        bool hold = false;       // kept back until releaseHeld()
    };

    LoopbackServer()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            }
        });
    }

    quint16 port() const { return server_.serverPort(); }
    QString url(const QString& path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path); }
    void route(const QString& path, const Response& response) { routes_[path] = response; }
    void route(const QString& path, const QByteArray& body) { routes_[path] = Response {200, body, true, false}; }

    QStringList requests() const { return requests_; }
    int count(const QString& path) const { return static_cast<int>(requests_.count(path)); }
    int heldCount() const { return static_cast<int>(held_.size()); }

    void releaseHeld()
    {
        const auto held = held_;
        held_.clear();
        for (const auto& [socket, response] : held) {
            if (socket)
                send(socket, response);
        }
    }

private:
    void read(QTcpSocket* socket)
    {
        QByteArray& buffer = buffers_[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
        buffers_.remove(socket);
        disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
        const QString path = requestLine.size() >= 2 ? QString::fromLatin1(requestLine[1]) : QString();
        requests_.append(path);
        const Response response = routes_.value(path, Response {404, {}, true, false});
        if (response.hold)
            held_.append({QPointer<QTcpSocket>(socket), response});
        else
            send(socket, response);
    }

    static void send(QTcpSocket* socket, const Response& response)
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n"
            + "Content-Type: application/octet-stream\r\nConnection: close\r\n";
        if (response.sendLength)
            head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        socket->write(head + "\r\n" + response.body);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    QHash<QString, Response> routes_;
    QHash<QTcpSocket*, QByteArray> buffers_;
    QStringList requests_;
    QList<std::pair<QPointer<QTcpSocket>, Response>> held_;
};
