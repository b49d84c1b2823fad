#include "platform/linux/LibArchiveExtractor.h"

#include "TestFiles.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

struct Extraction {
    QTemporaryDir root;
    QString work = root.path() + QStringLiteral("/work");
    bool operator()(const QByteArray& zip)
    {
        return QDir().mkpath(work) && writeFile(root.path() + QStringLiteral("/a.zip"), zip)
            && LibArchiveExtractor().extract(root.path() + QStringLiteral("/a.zip"), work);
    }
    QByteArray read(const char* path) const { return readFile(work + u'/' + QLatin1String(path)); }
    bool workIsEmpty() const { return !QDirIterator(work, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden).hasNext(); }
};

}  // namespace

TEST(LibArchiveExtractor, UnpacksFilesLinksAndModesWithoutSetIdBits)
{
    Extraction x;
    ASSERT_TRUE(x(ZipBuilder()
                      .folder(QStringLiteral("A.app"))
                      .file(QStringLiteral("A.app/bin/ambrano"), "#!/bin/sh\n", 0755)
                      .file(QStringLiteral("A.app/lib/libx.so.1"), "lib", 04755)
                      .symlink(QStringLiteral("A.app/lib/libx.so"), QStringLiteral("libx.so.1"))
                      // A framework's Versions/Current, and a link through it.
                      .symlink(QStringLiteral("A.app/Current"), QStringLiteral("lib"))
                      .symlink(QStringLiteral("A.app/up"), QStringLiteral("Current/../bin/./ambrano"))
                      .file(QStringLiteral("./Other.app/x"), "x")
                      .build()));
    EXPECT_TRUE(QFileInfo(x.work + QStringLiteral("/A.app/bin/ambrano")).isExecutable());
    EXPECT_EQ(x.read("A.app/lib/libx.so"), "lib");
    EXPECT_EQ(x.read("A.app/up"), "#!/bin/sh\n");
    EXPECT_EQ(x.read("Other.app/x"), "x");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(x.work + QStringLiteral("/A.app/lib/libx.so.1")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07100, 0100u);  // executable, but no set-id bits
}

TEST(LibArchiveExtractor, AnyHostileEntryRefusesTheWholeArchive)
{
    const auto zip = [] { return ZipBuilder().file(QStringLiteral("good"), "g"); };
    const struct {
        const char* what;
        ZipBuilder zip;
    } cases[] = {
        {"parent", zip().file(QStringLiteral("a/../../escaped"), "e")},
        {"absolute", zip().file(QStringLiteral("/tmp/escaped"), "e")},
        {"only dots", zip().folder(QStringLiteral("./"))},
        {"link out", zip().symlink(QStringLiteral("a/l"), QStringLiteral("../../escaped"))},
        {"absolute link", zip().symlink(QStringLiteral("l"), QStringLiteral("/tmp"))},
        {"empty link", zip().symlink(QStringLiteral("l"), QString())},
        {"written through a link", zip().symlink(QStringLiteral("l"), QStringLiteral(".")).file(QStringLiteral("l/escaped"), "e")},
        // Each link looks harmless by its text; together they lead out of the folder.
        {"chained links", zip().symlink(QStringLiteral("l1"), QStringLiteral(".")).symlink(QStringLiteral("l2"), QStringLiteral("l1/l1/.."))},
        {"chained links below", zip().symlink(QStringLiteral("l1"), QStringLiteral(".")).symlink(QStringLiteral("a/l2"), QStringLiteral("../l1/l1/.."))},
        {"a later link under an earlier target", zip().symlink(QStringLiteral("l1"), QStringLiteral("d/x")).symlink(QStringLiteral("d"), QStringLiteral(".."))},
        {"link loop", zip().symlink(QStringLiteral("l1"), QStringLiteral("l2")).symlink(QStringLiteral("l2"), QStringLiteral("l1"))},
        // Judged by its last target, the first link would never be looked at.
        {"a name given twice", zip().symlink(QStringLiteral("l"), QStringLiteral("../escaped")).symlink(QStringLiteral("./l"), QStringLiteral("."))},
    };
    for (const auto& c : cases) {
        Extraction x;
        EXPECT_FALSE(x(c.zip.build())) << c.what;
        EXPECT_TRUE(x.workIsEmpty()) << c.what;
    }
    Extraction x;
    EXPECT_FALSE(x("PK\x03\x04 not really a zip"));
    // A good archive, but no folder to unpack into: none is made.
    ASSERT_TRUE(x(ZipBuilder().file(QStringLiteral("a"), "a").build()));
    EXPECT_FALSE(LibArchiveExtractor().extract(x.root.path() + QStringLiteral("/a.zip"), x.root.path() + QStringLiteral("/nowhere")));
    EXPECT_FALSE(QFileInfo::exists(x.root.path() + QStringLiteral("/nowhere")));
}
