#include "online/Fetch.h"

#include "system/EventLog.h"
#include "system/WebAddress.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

namespace Fetch {

namespace {

QNetworkAccessManager& network()
{
    // One manager on the main thread for the life of the application.
    static QPointer<QNetworkAccessManager> manager;
    if (!manager)
        manager = new QNetworkAccessManager(QCoreApplication::instance());
    return *manager;
}

// One transfer: owns its reply and timers, and goes with its context.
class Transfer : public QObject {
public:
    Transfer(QNetworkReply* reply, const Limits& limits, QObject* parent, std::function<void(const Result&)> completion)
        : QObject(parent)
        , reply_(reply)
        , limits_(limits)
        , completion_(std::move(completion))
    {
        reply_->setParent(this);
        // The reply holds no more than this before we take it out.
        reply_->setReadBufferSize(64 * 1024);
        connect(reply_, &QNetworkReply::metaDataChanged, this, [this] { take(); });
        connect(reply_, &QNetworkReply::readyRead, this, [this] { take(); });
        connect(reply_, &QNetworkReply::finished, this, [this] { finished(); });
        if (limits_.deadlineMs > 0)
            QTimer::singleShot(limits_.deadlineMs, this, [this] { stop(Failure::deadline); });
        if (limits_.idleMs > 0) {
            idle_ = new QTimer(this);
            idle_->setSingleShot(true);
            connect(idle_, &QTimer::timeout, this, [this] { stop(Failure::idle); });
            idle_->start(limits_.idleMs);
        }
    }

private:
    void take()
    {
        if (done_)
            return;
        if (idle_)
            idle_->start(limits_.idleMs);
        const QVariant announced = reply_->header(QNetworkRequest::ContentLengthHeader);
        if ((announced.isValid() && announced.toLongLong() > limits_.maxBytes)
            || body_.size() + reply_->bytesAvailable() > limits_.maxBytes) {
            stop(Failure::tooLarge);
            return;
        }
        body_.append(reply_->readAll());
    }

    void stop(Failure failure)
    {
        if (done_)
            return;
        done_ = true;
        const QString what = QString::fromLatin1(limits_.what);
        EventLog::shared().add(failure == Failure::tooLarge
                ? QStringLiteral("fetch: %1 over %2 bytes, stopped").arg(what).arg(limits_.maxBytes)
                : QStringLiteral("fetch: %1 timed out").arg(what));
        reply_->abort();  // its finished signal finds the transfer done
        complete(Result {failure, 0, {}});
    }

    void finished()
    {
        take();
        if (done_)
            return;
        done_ = true;
        // An answer with any status is an answer; only no answer at all is a failure.
        const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!status.isValid())
            complete(Result {Failure::network, 0, {}});
        else
            complete(Result {Failure::none, status.toInt(), std::move(body_)});
    }

    void complete(const Result& result)
    {
        body_.clear();
        deleteLater();
        if (completion_)
            std::exchange(completion_, nullptr)(result);
    }

    QNetworkReply* reply_;
    Limits limits_;
    std::function<void(const Result&)> completion_;
    QTimer* idle_ = nullptr;
    QByteArray body_;
    bool done_ = false;
};

}  // namespace

void get(const QUrl& url, const Limits& limits, QObject* context, std::function<void(const Result&)> completion)
{
    QObject* owner = context ? context : static_cast<QObject*>(&network());
    if (!isWebAddress(url) || url.isRelative()) {
        QMetaObject::invokeMethod(
            owner, [completion = std::move(completion)] { if (completion) completion(Result {Failure::badAddress, 0, {}}); },
            Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // Our own timers decide; the reply's idle timeout stays off.
    request.setTransferTimeout(0);
    new Transfer(network().get(request), limits, owner, std::move(completion));
}

}  // namespace Fetch
