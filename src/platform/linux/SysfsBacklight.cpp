#include "platform/linux/SysfsBacklight.h"

#include "platform/linux/PanelConnectors.h"

#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kLogindTimeoutMs = 3000;

// Firmware interfaces know the panel best; raw ones are the driver's own register.
int typeRank(const QByteArray& type)
{
    if (type == "firmware")
        return 0;
    if (type == "platform")
        return 1;
    if (type == "raw")
        return 2;
    return 3;
}

QByteArray readSmall(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(64);
}

// The panel's own backlight hangs below its DRM connector ("card0-eDP-1"); firmware and
// platform ones below an ACPI or PCI device.
bool onPanelConnector(const QString& dir)
{
    static const QRegularExpression connector(QStringLiteral("^card[0-9]+-(.+)$"));
    const QString parent = QFileInfo(QFileInfo(dir + QStringLiteral("/device")).symLinkTarget()).fileName();
    const QRegularExpressionMatch m = connector.match(parent);
    return m.hasMatch() && isPanelConnector(m.captured(1));
}

}  // namespace

SysfsBacklight::SysfsBacklight(QString classRoot, QDBusConnection bus)
    : bus_(std::move(bus))
{
    const QDir root(classRoot + QStringLiteral("/backlight"));
    int bestRank = 99;
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        // The ddcci driver's devices are external monitors: pinning one would leave the
        // panel flickering and drive a monitor nobody asked about.
        if (name.startsWith(QLatin1String("ddcci")))
            continue;
        const QString dir = root.filePath(name);
        const std::optional<int> max = readValue(dir + QStringLiteral("/max_brightness"));
        if (!max || *max <= 0)
            continue;  // no range to map levels onto
        const int rank = (onPanelConnector(dir) ? 0 : 10) + typeRank(readSmall(dir + QStringLiteral("/type")).trimmed());
        if (rank < bestRank) {
            bestRank = rank;
            dir_ = dir;
            name_ = name;
        }
    }
    if (name_.isEmpty())
        return;
    functions_.setBrightness = [this](DisplayID, float level) { return set(level); };
    functions_.getBrightness = [this](DisplayID, float* level) { return get(level); };
}

std::optional<int> SysfsBacklight::parseValue(const QByteArray& text)
{
    const QByteArray t = text.trimmed();
    if (t.isEmpty() || t.size() > 10)
        return std::nullopt;
    for (char c : t) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    bool ok = false;
    const qlonglong v = t.toLongLong(&ok);
    if (!ok || v > 0x7fffffff)
        return std::nullopt;
    return static_cast<int>(v);
}

std::optional<int> SysfsBacklight::levelToValue(float level, int max)
{
    if (max <= 0 || std::isnan(level))
        return std::nullopt;
    const double clamped = std::clamp(static_cast<double>(level), 0.0, 1.0);
    return static_cast<int>(std::lround(clamped * max));
}

float SysfsBacklight::valueToLevel(int value, int max)
{
    if (max <= 0)
        return 0.0f;
    return static_cast<float>(static_cast<double>(std::clamp(value, 0, max)) / max);
}

std::optional<int> SysfsBacklight::readValue(const QString& file) const
{
    return parseValue(readSmall(file));
}

std::int32_t SysfsBacklight::get(float* level)
{
    if (!level)
        return -1;
    const std::optional<int> max = readValue(dir_ + QStringLiteral("/max_brightness"));
    if (!max || *max <= 0)
        return -1;
    // The level that is restored is written to `brightness`, so it is read from there too:
    // `actual_brightness` may differ (adaptive backlight), and restoring it would shift the
    // user's level on every round trip.
    const std::optional<int> value = readValue(dir_ + QStringLiteral("/brightness"));
    if (!value)
        return -1;
    *level = valueToLevel(*value, *max);
    return 0;
}

std::int32_t SysfsBacklight::set(float level)
{
    if (!QFileInfo(dir_).isDir())
        return -1;  // the device went away
    const std::optional<int> max = readValue(dir_ + QStringLiteral("/max_brightness"));
    if (!max || *max <= 0)
        return -1;
    const std::optional<int> value = levelToValue(level, *max);
    if (!value)
        return -1;

    const QByteArray path = QFile::encodeName(dir_ + QStringLiteral("/brightness"));
    const int fd = ::open(path.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM || errno == EROFS)
            return askLogind(*value) ? 0 : -1;
        return -1;
    }
    const QByteArray text = QByteArray::number(*value) + '\n';
    const ssize_t written = ::write(fd, text.constData(), static_cast<size_t>(text.size()));
    ::close(fd);
    return written == text.size() ? 0 : -1;
}

bool SysfsBacklight::askLogind(int value)
{
    if (!bus_.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
        QStringLiteral("/org/freedesktop/login1/session/auto"), QStringLiteral("org.freedesktop.login1.Session"),
        QStringLiteral("SetBrightness"));
    call << QStringLiteral("backlight") << name_ << static_cast<quint32>(value);
    const QDBusMessage reply = bus_.call(call, QDBus::Block, kLogindTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}
