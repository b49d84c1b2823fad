#pragma once
// The short messages of the panel: rotating tips, an occasional promotional line, the message
// shown when the filter is switched on, and the credits. Built in, replaceable by a JSON feed
// that is cached on disk and used from the next launch on.

#include "online/TipMessage.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// Language code ("es", "en", "ca") or "color", "image", "url" → text.
using MessageSource = QMap<QString, QString>;

class Tips : public QObject {
    Q_OBJECT

public:
    // A decoded feed document; absent members are std::nullopt.
    struct Document {
        std::optional<QList<MessageSource>> tips;
        std::optional<QList<MessageSource>> ads;
        std::optional<MessageSource> onActivate;
        std::optional<MessageSource> about;
    };
    struct About {
        QString text;
        std::optional<QString> url;
    };
    // Uniform whole number in [0, bound).
    using RandomSource = std::function<int(int bound)>;

    static constexpr int fetchTimeoutMs = 8000;
    // The feed is a few KiB; a larger one is cut off and a larger cache file is not read.
    static constexpr qint64 maxFeedBytes = 1024 * 1024;

    static Tips& shared();
    // The feed address from the build configuration: server + "/tips.json".
    static QString defaultRemoteURL();

    explicit Tips(QString remoteURLString = defaultRemoteURL(), QObject* parent = nullptr);
    ~Tips() override;

    // Applies the cache, then starts one fetch of the feed. Returns at once.
    void refreshRemote();
    TipMessage next();
    std::optional<TipMessage> activationMessage() const;
    About aboutInfo() const;

    // The cache file; its folder is created when missing.
    QString cacheURL() const;

    // Strict decoding: any wrong type anywhere rejects the whole document.
    static std::optional<Document> decode(const QByteArray& body);
    // A network document is used only with a non-empty "tips" or a present "ads".
    static bool accepted(const Document& document);
    void apply(const Document& document);

    // Seams for tests.
    void setRandomSource(RandomSource source);
    void setCachePath(const QString& path);
    QString remoteURLString() const { return remoteURLString_; }
    QString last() const { return last_; }

    // Called on the main thread when a fetch has been handled (accepted or not).
    std::function<void()> onFetchFinished;

private:
    void handleBody(const QByteArray& body);
    QList<MessageSource> tipPool() const;
    QList<MessageSource> adPool() const;
    int draw(int bound);

    QString remoteURLString_;
    QString cachePath_;
    QString last_;
    std::optional<QList<MessageSource>> remoteTips_;
    std::optional<QList<MessageSource>> remoteAds_;
    std::optional<MessageSource> onActivate_;
    std::optional<MessageSource> about_;
    RandomSource random_;
};
