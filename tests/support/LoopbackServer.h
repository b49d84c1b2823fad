#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the tests of everything that goes online. Serves
// fixed bodies by path (or one answer for every path), records every request, and can answer
// late, hold answers back until told, never answer, or stop halfway.

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class LoopbackServer : public QObject {
public:
    struct Response {
        int status = 200;
        QByteArray body;
        bool sendLength = true;  // false: the body ends when the connection closes
        bool hold = false;       // kept back until releaseHeld()
        int delayMs = 0;         // sent this much later
        bool silent = false;     // never sent: the connection stays open
        qint64 stallAfter = -1;  // only this much of the body is sent; the connection stays open

        static Response late(const QByteArray& body, int ms)
        {
            Response r {200, body};
            r.delayMs = ms;
            return r;
        }
        static Response never()
        {
            Response r {200, {}};
            r.silent = true;
            return r;
        }
        static Response stalling(const QByteArray& body, qint64 sentBytes)
        {
            Response r {200, body};
            r.stallAfter = sentBytes;
            return r;
        }
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

    bool isListening() const { return server_.isListening(); }
    quint16 port() const { return server_.serverPort(); }
    QString url(const QString& path = {}) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path); }
    void route(const QString& path, const Response& response) { routes_[path] = response; }
    void route(const QString& path, const QByteArray& body) { routes_[path] = Response {200, body}; }
    // The answer to every path without a route of its own (404 unless set).
    void setFallback(const Response& response) { fallback_ = response; }
    void setFallback(const QByteArray& body) { fallback_ = Response {200, body}; }

    QStringList requests() const { return requests_; }
    // The request heads as received, without the blank line that ends them.
    QStringList requestHeads() const { return heads_; }
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
        heads_.append(QString::fromLatin1(buffer.left(end)));
        const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
        buffers_.remove(socket);
        disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
        const QString path = requestLine.size() >= 2 ? QString::fromLatin1(requestLine[1]) : QString();
        requests_.append(path);
        const Response response = routes_.value(path, fallback_);
        if (response.silent)
            return;
        if (response.hold) {
            held_.append({QPointer<QTcpSocket>(socket), response});
        } else if (response.delayMs > 0) {
            QTimer::singleShot(response.delayMs, this, [this, socket = QPointer<QTcpSocket>(socket), response] {
                if (socket)
                    send(socket, response);
            });
        } else {
            send(socket, response);
        }
    }

    void send(QTcpSocket* socket, const Response& response)
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n"
            + "Content-Type: application/octet-stream\r\nConnection: close\r\n";
        if (response.sendLength)
            head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        const QByteArray body = response.stallAfter >= 0 ? response.body.left(response.stallAfter) : response.body;
        socket->write(head + "\r\n" + body);
        if (response.stallAfter < 0)
            socket->disconnectFromHost();
    }

    QTcpServer server_;
    QHash<QString, Response> routes_;
    Response fallback_ {404, {}};
    QStringList heads_;
    QHash<QTcpSocket*, QByteArray> buffers_;
    QStringList requests_;
    QList<std::pair<QPointer<QTcpSocket>, Response>> held_;
};
