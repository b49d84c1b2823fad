#include "platform/linux/LibArchiveExtractor.h"

#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

class ExtractorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        work_ = root_.path() + QStringLiteral("/work");
        QDir().mkpath(work_);
    }
    bool extract(const QByteArray& zip)
    {
        const QString archive = root_.path() + QStringLiteral("/a.zip");
        QFile file(archive);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(zip) != zip.size())
            return false;
        file.close();
        return LibArchiveExtractor().extract(archive, work_);
    }
    QStringList everything(const QString& folder) const
    {
        QStringList out;
        QDir dir(folder);
        for (const QFileInfo& info : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
            out.append(info.fileName());
            if (info.isDir() && !info.isSymLink()) {
                for (const QString& inner : everything(info.filePath()))
                    out.append(info.fileName() + QLatin1Char('/') + inner);
            }
        }
        return out;
    }
    QByteArray read(const QString& path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir root_;
    QString work_;
};

}  // namespace

TEST_F(ExtractorTest, UnpacksFilesFoldersLinksAndModes)
{
    const QByteArray zip = ZipBuilder()
                               .folder(QStringLiteral("Ambrano.app"))
                               .file(QStringLiteral("Ambrano.app/bin/ambrano"), "#!/bin/sh\n", 0755)
                               .file(QStringLiteral("Ambrano.app/lib/libx.so.1"), "lib", 04755)
                               .symlink(QStringLiteral("Ambrano.app/lib/libx.so"), QStringLiteral("libx.so.1"))
                               // A framework's Versions/Current, and a link through it.
                               .symlink(QStringLiteral("Ambrano.app/Current"), QStringLiteral("lib"))
                               .symlink(QStringLiteral("Ambrano.app/up"), QStringLiteral("Current/../bin/./ambrano"))
                               .file(QStringLiteral("./Other.app/x"), "x")
                               .build();
    ASSERT_TRUE(extract(zip));
    EXPECT_EQ(read(work_ + QStringLiteral("/Ambrano.app/bin/ambrano")), QByteArray("#!/bin/sh\n"));
    EXPECT_TRUE(QFileInfo(work_ + QStringLiteral("/Ambrano.app/bin/ambrano")).isExecutable());
    EXPECT_FALSE(QFileInfo(work_ + QStringLiteral("/Ambrano.app/lib/libx.so.1")).permissions()
        & QFileDevice::WriteOther);
    EXPECT_EQ(read(work_ + QStringLiteral("/Ambrano.app/lib/libx.so")), QByteArray("lib"));
    EXPECT_EQ(read(work_ + QStringLiteral("/Ambrano.app/up")), QByteArray("#!/bin/sh\n"));
    EXPECT_EQ(read(work_ + QStringLiteral("/Other.app/x")), QByteArray("x"));
    // No set-id bits come out of an archive.
    QFile lib(work_ + QStringLiteral("/Ambrano.app/lib/libx.so.1"));
    EXPECT_EQ(QFileInfo(lib).permissions() & QFileDevice::ExeOwner, QFileDevice::ExeOwner);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(lib.fileName()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07000, 0u);
}

TEST_F(ExtractorTest, HostileEntriesRefuseTheWholeArchive)
{
    const struct {
        const char* what;
        ZipBuilder zip;
    } cases[] = {
        {"parent", ZipBuilder().file(QStringLiteral("good"), "g").file(QStringLiteral("../escaped"), "e")},
        {"inner parent", ZipBuilder().file(QStringLiteral("good"), "g").file(QStringLiteral("a/../../escaped"), "e")},
        {"parent alone", ZipBuilder().file(QStringLiteral("good"), "g").folder(QStringLiteral(".."))},
        {"absolute", ZipBuilder().file(QStringLiteral("good"), "g").file(root_.path() + QStringLiteral("/escaped"), "e")},
        {"link out", ZipBuilder().file(QStringLiteral("good"), "g").symlink(QStringLiteral("a/l"), QStringLiteral("../../escaped"))},
        {"absolute link", ZipBuilder().file(QStringLiteral("good"), "g").symlink(QStringLiteral("l"), root_.path())},
        {"empty link", ZipBuilder().file(QStringLiteral("good"), "g").symlink(QStringLiteral("l"), QString())},
        {"through a link", ZipBuilder().symlink(QStringLiteral("l"), QStringLiteral(".")).file(QStringLiteral("l/escaped"), "e")},
        // Each link looks harmless by its text; together they lead out of the folder.
        {"chained links", ZipBuilder().symlink(QStringLiteral("l1"), QStringLiteral(".")).symlink(QStringLiteral("l2"), QStringLiteral("l1/l1/.."))},
        {"chained links out", ZipBuilder().symlink(QStringLiteral("l1"), QStringLiteral(".")).symlink(QStringLiteral("a/l2"), QStringLiteral("../l1/l1/.."))},
        {"a later link under an earlier target", ZipBuilder().symlink(QStringLiteral("l1"), QStringLiteral("d/x")).symlink(QStringLiteral("d"), QStringLiteral(".."))},
        {"link loop", ZipBuilder().symlink(QStringLiteral("l1"), QStringLiteral("l2")).symlink(QStringLiteral("l2"), QStringLiteral("l1"))},
        {"a name given twice", ZipBuilder().folder(QStringLiteral("d")).symlink(QStringLiteral("d"), QStringLiteral(".."))},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(extract(c.zip.build())) << c.what;
        EXPECT_TRUE(everything(work_).isEmpty()) << c.what << ": " << everything(work_).join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(QFileInfo::exists(root_.path() + QStringLiteral("/escaped"))) << c.what;
    }
}

TEST_F(ExtractorTest, NotAZipIsRefused)
{
    EXPECT_FALSE(extract("PK\x03\x04 this is not really a zip"));
    EXPECT_FALSE(extract(QByteArray()));
    EXPECT_FALSE(LibArchiveExtractor().extract(root_.path() + QStringLiteral("/missing.zip"), work_));
    // A good archive, but no folder to unpack into.
    ASSERT_TRUE(extract(ZipBuilder().file(QStringLiteral("a"), "a").build()));
    EXPECT_FALSE(LibArchiveExtractor().extract(root_.path() + QStringLiteral("/a.zip"), root_.path() + QStringLiteral("/nowhere")));
    EXPECT_FALSE(QFileInfo::exists(root_.path() + QStringLiteral("/nowhere")));
}
