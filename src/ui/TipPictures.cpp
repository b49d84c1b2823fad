#include "ui/TipPictures.h"

#include "online/Fetch.h"
#include "system/WebAddress.h"

#include <QBuffer>
#include <QImageReader>
#include <QUrl>

namespace {

// A decoded picture may take at most this much memory (a small file can describe a huge one).
constexpr int imageAllocationLimitMiB = 64;

}  // namespace

TipPictures::TipPictures(int shownSide, QObject* parent)
    : QObject(parent)
    // A sharp copy for a 3x screen and no more, so the cache stays small whatever the feed
    // points at.
    , keptSide_(3 * shownSide)
{
}

std::optional<QPixmap> TipPictures::picture(const QString& address)
{
    if (auto it = cache_.constFind(address); it != cache_.constEnd())
        return it.value();
    const QUrl url(address, QUrl::StrictMode);
    if (!isWebAddress(url) || loading_.contains(address))
        return std::nullopt;
    loading_.insert(address);
    Fetch::get(url, {maxImageBytes, 0, idleTimeoutMs, "tip picture"}, this, [this, address](const Fetch::Result& result) {
        loading_.remove(address);
        // The status is not looked at: whatever came back is used if it is a picture.
        if (result.ok())
            arrived(address, result.body);
    });
    return std::nullopt;
}

void TipPictures::arrived(const QString& address, QByteArray data)
{
    if (data.isEmpty())
        return;
    QBuffer buffer(&data);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(imageAllocationLimitMiB);
    QImage image = reader.read();
    if (image.isNull())
        return;
    if (image.width() > keptSide_ || image.height() > keptSide_)
        image = image.scaled(keptSide_, keptSide_, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const QPixmap pixmap = QPixmap::fromImage(image);
    cache_.insert(address, pixmap);
    if (onLoaded)
        onLoaded(address, pixmap);
}
