#pragma once
// The tips' pictures: downloaded once through the capped fetch, decoded, shrunk to what the
// panel shows, and kept in memory for the rest of the run.

#include <QHash>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

class TipPictures : public QObject {
public:
    // A picture larger than this is abandoned mid-download.
    static constexpr qint64 maxImageBytes = 2 * 1024 * 1024;
    // A server that stops sending this long is given up on.
    static constexpr int idleTimeoutMs = 30000;

    explicit TipPictures(int shownSide, QObject* parent = nullptr);

    // The picture when it is at hand; otherwise starts its download (web addresses only) and
    // tells onLoaded when it has arrived.
    std::optional<QPixmap> picture(const QString& address);
    bool cached(const QString& address) const { return cache_.contains(address); }

    std::function<void(const QString& address, const QPixmap& picture)> onLoaded;

private:
    void arrived(const QString& address, QByteArray data);

    int keptSide_;
    QHash<QString, QPixmap> cache_;
    QSet<QString> loading_;
};
