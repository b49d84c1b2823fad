#include "platform/linux/I2CDevTransport.h"

#include "platform/linux/PanelConnectors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <chrono>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

const QRegularExpression& adapterName()
{
    static const QRegularExpression re(QStringLiteral("^i2c-[0-9]+$"));
    return re;
}

bool canOpen(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

}  // namespace

I2CDevTransport::I2CDevTransport(QString classRoot, QString devRoot)
    : classRoot_(std::move(classRoot))
    , devRoot_(std::move(devRoot))
{
}

bool I2CDevTransport::available()
{
    if (!QFileInfo(classRoot_ + QStringLiteral("/i2c-dev")).isDir())
        return false;  // the i2c-dev module is not loaded
    const QDir dev(devRoot_);
    for (const QString& name : dev.entryList({QStringLiteral("i2c-*")}, QDir::AllEntries | QDir::System)) {
        if (adapterName().match(name).hasMatch() && canOpen(dev.filePath(name)))
            return true;
    }
    return false;
}

QString I2CDevTransport::adapterOf(const QString& connectorDir) const
{
    const QFileInfo ddc(connectorDir + QStringLiteral("/ddc"));
    if (ddc.isSymLink()) {
        const QString name = QFileInfo(ddc.symLinkTarget()).fileName();
        if (adapterName().match(name).hasMatch())
            return name;
    }
    for (const QString& name : QDir(connectorDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (adapterName().match(name).hasMatch())
            return name;
    }
    return {};
}

std::vector<DDCService> I2CDevTransport::externalServices()
{
    static const QRegularExpression connectorName(QStringLiteral("^card[0-9]+-(.+)$"));
    std::vector<DDCService> services;
    const QDir drm(classRoot_ + QStringLiteral("/drm"));
    for (const QString& entry : drm.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QRegularExpressionMatch m = connectorName.match(entry);
        if (!m.hasMatch() || isPanelConnector(m.captured(1)))
            continue;
        const QString dir = drm.filePath(entry);
        QFile status(dir + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly) || status.read(64).trimmed() != "connected")
            continue;
        const QString adapter = adapterOf(dir);
        if (adapter.isEmpty())
            continue;
        const QString device = devRoot_ + QLatin1Char('/') + adapter;
        if (!canOpen(device))
            continue;  // no i2c-dev node, or no permission on it
        services.push_back(std::make_shared<const DDCEndpoint>(
            DDCEndpoint{QFile::encodeName(device).toStdString(), entry.toStdString()}));
    }
    return services;
}

int I2CDevTransport::openBus(const DDCService& service, std::uint32_t chip) const
{
    if (!service)
        return -1;
    const int fd = ::open(service->device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::ioctl(fd, I2C_SLAVE, static_cast<unsigned long>(chip)) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int I2CDevTransport::writeI2C(const DDCService& service, std::uint32_t chip, std::uint32_t dataAddress,
    const std::uint8_t* buffer, std::uint32_t length)
{
    const int fd = openBus(service, chip);
    if (fd < 0)
        return -1;
    // The kernel sends the chip's address byte; the data address is the first byte we write.
    std::vector<std::uint8_t> bytes;
    bytes.reserve(length + 1);
    bytes.push_back(static_cast<std::uint8_t>(dataAddress));
    bytes.insert(bytes.end(), buffer, buffer + length);
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
    return n == static_cast<ssize_t>(bytes.size()) ? 0 : -1;
}

int I2CDevTransport::readI2C(const DDCService& service, std::uint32_t chip, std::uint32_t,
    std::uint8_t* buffer, std::uint32_t length)
{
    const int fd = openBus(service, chip);
    if (fd < 0)
        return -1;
    const ssize_t n = ::read(fd, buffer, length);
    ::close(fd);
    return n == static_cast<ssize_t>(length) ? 0 : -1;
}

void I2CDevTransport::pause(std::uint32_t microseconds)
{
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
}

DDCTiming I2CDevTransport::timing() const
{
    return standardTiming();
}

DDCTiming I2CDevTransport::standardTiming()
{
    // The DDC/CI standard: at least 40 ms before reading a reply, 50 ms after a Set. Replies
    // on a bare bus may be garbage or a null "busy" message, so they are checked and asked
    // for again a few times.
    DDCTiming t;
    t.beforeTransferUs = 10000;
    t.beforeReadUs = 40000;
    t.afterSetUs = 50000;
    t.retryDelayUs = 50000;
    t.readAttempts = 4;
    t.checkReplies = true;
    return t;
}
