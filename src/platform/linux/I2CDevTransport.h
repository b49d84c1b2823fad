#pragma once
// DDC/CI over the kernel's i2c-dev interface. External monitors are the DRM connectors that
// are connected and are not built-in panels; each one's I2C adapter is found through its
// `ddc` link, or the i2c-N folder a DisplayPort connector carries for its AUX channel.

#include "platform/DDCTransport.h"

#include <QString>

class I2CDevTransport : public DDCTransport {
public:
    // classRoot stands for /sys/class, devRoot for /dev.
    explicit I2CDevTransport(QString classRoot = QStringLiteral("/sys/class"), QString devRoot = QStringLiteral("/dev"));

    bool available() override;
    std::vector<DDCService> externalServices() override;
    int writeI2C(const DDCService& service, std::uint32_t chip, std::uint32_t dataAddress,
        const std::uint8_t* buffer, std::uint32_t length) override;
    int readI2C(const DDCService& service, std::uint32_t chip, std::uint32_t dataAddress,
        std::uint8_t* buffer, std::uint32_t length) override;
    void pause(std::uint32_t microseconds) override;
    DDCTiming timing() const override;
    // The pauses and checks real monitors need on a bare bus.
    static DDCTiming standardTiming();

private:
    int openBus(const DDCService& service, std::uint32_t chip) const;
    QString adapterOf(const QString& connectorDir) const;

    QString classRoot_;
    QString devRoot_;
};
