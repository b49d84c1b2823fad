#pragma once
// Shared by the updater tests: a real Ed25519 key pair, a loopback server, an updater wired
// to temporary folders, and the log lines it wrote.

#include "online/Updater.h"
#include "platform/Signature.h"
#include "platform/linux/BundleSwapInstaller.h"
#include "platform/linux/LibArchiveExtractor.h"
#include "system/EventLog.h"

#include "FakeProcessLauncher.h"
#include "Printers.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <sodium.h>

#include <memory>

struct KeyPair {
    QByteArray publicKey;
    QByteArray secretKey;

    KeyPair()
    {
        EXPECT_GE(sodium_init(), 0);
        publicKey.resize(crypto_sign_PUBLICKEYBYTES);
        secretKey.resize(crypto_sign_SECRETKEYBYTES);
        crypto_sign_keypair(reinterpret_cast<unsigned char*>(publicKey.data()),
            reinterpret_cast<unsigned char*>(secretKey.data()));
    }
    QString publicB64() const { return Signature::encodeBase64(publicKey); }
    QString sign(const QByteArray& data) const
    {
        QByteArray signature(crypto_sign_BYTES, Qt::Uninitialized);
        crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
            reinterpret_cast<const unsigned char*>(data.constData()), static_cast<unsigned long long>(data.size()),
            reinterpret_cast<const unsigned char*>(secretKey.constData()));
        return Signature::encodeBase64(signature);
    }
};

inline QByteArray manifestJSON(const QString& version, const QString& url, const QString& signature)
{
    return QJsonDocument(QJsonObject {
                             {QStringLiteral("version"), version},
                             {QStringLiteral("url"), url},
                             {QStringLiteral("signature"), signature},
                             {QStringLiteral("notes"), QStringLiteral("Fixes.")},
                         })
        .toJson();
}

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

class UpdateFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        temporary_ = root_.path() + QStringLiteral("/tmp");
        appsFolder_ = root_.path() + QStringLiteral("/apps");
        QDir().mkpath(temporary_);
        installer_.setTemporaryFolder(temporary_);
        installer_.setRunningExecutable(installedBundle() + QStringLiteral("/bin/ambrano"));
        installer_.setRunningPid(999999);
    }

    // The updater under test, set up as an app installed at <apps>/Ambrano.app would be.
    std::unique_ptr<Updater> makeUpdater(const QString& publicKey)
    {
        auto updater = std::make_unique<Updater>(server_.url(QStringLiteral("/update.json")), publicKey);
        updater->setEventLog(log_.get());
        updater->setCurrentVersion(QStringLiteral("1.3.0"));
        updater->setInstaller(&installer_);
        updater->onQuitRequest = [this] { ++quitRequests_; };
        return updater;
    }
    void resetLog() { log_ = std::make_unique<EventLog>(); }
    QString installedBundle() const { return appsFolder_ + QStringLiteral("/Ambrano.app"); }

    // Runs one check to its end; returns how it ended.
    static Updater::Outcome check(Updater& updater)
    {
        std::optional<Updater::Outcome> outcome;
        updater.onFinished = [&outcome](Updater::Outcome o) { outcome = o; };
        updater.checkInBackground();
        EXPECT_TRUE(waitFor([&outcome] { return outcome.has_value(); }, 15000));
        updater.waitForBackgroundWork();
        updater.onFinished = nullptr;
        return outcome.value_or(Updater::Outcome::noManifest);
    }

    // The log's messages without their time stamps.
    QStringList logLines() const
    {
        QStringList out;
        const QString dump = log_->dump();
        if (dump.isEmpty())
            return out;
        for (const QString& line : dump.split(QLatin1Char('\n')))
            out.append(line.mid(11));
        return out;
    }
    QStringList temporaryEntries() const
    {
        return QDir(temporary_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    }

    FreshSettings settings_;
    QTemporaryDir root_;
    QString temporary_;
    QString appsFolder_;
    LoopbackServer server_;
    std::unique_ptr<EventLog> log_ = std::make_unique<EventLog>();
    LibArchiveExtractor extractor_;
    FakeProcessLauncher launcher_;
    BundleSwapInstaller installer_ {extractor_, launcher_};
    int quitRequests_ = 0;
};
