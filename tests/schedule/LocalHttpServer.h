#pragma once
// A small HTTP/1.1 server on loopback that answers every request with a canned body, late,
// or never, and remembers the request heads it received.

#include <QByteArray>
#include <QHostAddress>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class LocalHttpServer : public QObject {
public:
    enum class Mode { answer, silent };

    QByteArray body;
    int status = 200;
    int delayMs = 0;
    Mode mode = Mode::answer;
    QStringList requestHeads;

    LocalHttpServer()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
            }
        });
    }

    bool isListening() const { return server_.isListening(); }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }

private:
    void read(QTcpSocket* socket)
    {
        QByteArray& buffer = buffers_[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        requestHeads.append(QString::fromLatin1(buffer.left(end)));
        buffer.clear();
        if (mode == Mode::silent)
            return;
        QPointer<QTcpSocket> guarded(socket);
        QTimer::singleShot(delayMs, this, [this, guarded] {
            if (!guarded)
                return;
            QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + " Canned\r\n"
                + "Content-Type: application/json; charset=utf-8\r\n"
                + "Content-Length: " + QByteArray::number(body.size()) + "\r\n"
                + "Connection: close\r\n\r\n" + body;
            guarded->write(response);
            guarded->disconnectFromHost();
        });
    }

    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> buffers_;
};
