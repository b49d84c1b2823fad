#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the tests of everything that goes online. Serves
// fixed bodies by path (or one answer for every other path), records every request, and can
// answer late, hold answers back until told, never answer, or stop halfway.

#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class LoopbackServer : public QObject {
public:
    struct Response {
        int status = 200;
        QByteArray body = {};
        bool sendLength = true;  // false: the body ends when the connection closes
        bool hold = false;       // kept back until releaseHeld()
        int delayMs = 0;         // sent this much later
        bool silent = false;     // never sent: the connection stays open
        qint64 stallAfter = -1;  // only this much of the body is sent; the connection stays open
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

    QString url(const QString& path = {}) const { return "http://127.0.0.1:" + QString::number(server_.serverPort()) + path; }
    void route(const QString& path, const Response& response) { routes_[path] = response; }
    void route(const QString& path, const QByteArray& body) { routes_[path] = Response {200, body}; }
    void setFallback(const Response& response) { fallback_ = response; }  // for every path without a route
    QStringList requests() const { return requests_; }
    void releaseHeld()
    {
        for (const auto& [socket, response] : std::exchange(held_, {}))
            if (socket)
                send(socket, response);
    }

private:
    void read(QTcpSocket* socket)
    {
        const QByteArray buffer = socket->peek(socket->bytesAvailable());  // the head may come in pieces
        if (!buffer.contains("\r\n\r\n"))
            return;
        requests_.append(QString::fromLatin1(buffer.left(buffer.indexOf("\r\n")).split(' ').value(1)));
        disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
        const Response response = routes_.value(requests_.last(), fallback_);
        if (response.hold)
            held_.append({socket, response});
        else if (!response.silent)
            QTimer::singleShot(response.delayMs, socket, [this, socket, response] { send(socket, response); });
    }

    void send(QTcpSocket* socket, const Response& r)
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + " Status\r\nConnection: close\r\n";
        if (r.sendLength)
            head += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
        socket->write(head + "\r\n" + (r.stallAfter >= 0 ? r.body.left(r.stallAfter) : r.body));
        if (r.stallAfter < 0)
            socket->disconnectFromHost();
    }

    QTcpServer server_;
    QHash<QString, Response> routes_;
    Response fallback_ {404, {}};
    QStringList requests_;
    QList<std::pair<QPointer<QTcpSocket>, Response>> held_;
};
