#include "platform/linux/LibArchiveExtractor.h"
#include "TestFiles.h"
#include "support/ZipBuilder.h"
#include <gtest/gtest.h>
#include <QDirIterator>
#include <QTemporaryDir>
#include <sys/stat.h>

struct Extraction {
    QTemporaryDir root;
    QString work = root.path() + "/work";
    bool operator()(const QByteArray& zip)
    {
        return QDir().mkpath(work) && writeFile(root.path() + "/a.zip", zip) && LibArchiveExtractor().extract(root.path() + "/a.zip", work);
    }
    bool workIsEmpty() const { return !QDirIterator(work, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden).hasNext(); }
};

TEST(LibArchiveExtractor, UnpacksFilesLinksAndModesWithoutSetIdBits)
{
    Extraction x;
    // A framework's Versions/Current, and a link through it.
    ASSERT_TRUE(x(ZipBuilder().folder("A.app").file("A.app/bin/ambrano", "#!/bin/sh\n", 0755).file("A.app/lib/libx.so.1", "x", 04755)
                      .symlink("A.app/lib/libx.so", "libx.so.1").symlink("A.app/Current", "lib")
                      .symlink("A.app/up", "Current/../bin/./ambrano").build()));
    EXPECT_EQ(readFile(x.work + "/A.app/lib/libx.so"), "x");
    EXPECT_EQ(readFile(x.work + "/A.app/up"), "#!/bin/sh\n");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(x.work + "/A.app/lib/libx.so.1").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07100, 0100u);  // executable, but no set-id bits
}

TEST(LibArchiveExtractor, AnyHostileEntryRefusesTheWholeArchive)
{
    const auto zip = [] { return ZipBuilder().file("good", "g"); };
    // zip keeps an entry's type in the central directory's mode bits: here a character device.
    QByteArray device = zip().file("null", "").build();
    device[device.lastIndexOf("PK\x01\x02") + 41] = 0x21;
    const std::pair<const char*, QByteArray> cases[] = {
        {"parent", zip().file("a/../../escaped", "e").build()},
        {"absolute", zip().file("/tmp/escaped", "e").build()},
        {"only dots", zip().folder("./").build()},
        {"link out", zip().symlink("a/l", "../../escaped").build()},
        {"absolute link", zip().symlink("l", "/tmp").build()},
        {"empty link", zip().symlink("l", "").build()},
        {"written through a link", zip().symlink("l", ".").file("l/escaped", "e").build()},
        // Each link looks harmless by its text; together they lead out of the folder.
        {"chained links", zip().symlink("l1", ".").symlink("l2", "l1/l1/..").build()},
        {"chained links below", zip().symlink("l1", ".").symlink("a/l2", "../l1/l1/..").build()},
        {"a later link under an earlier target", zip().symlink("l1", "d/x").symlink("d", "..").build()},
        {"link loop", zip().symlink("l1", "l2").symlink("l2", "l1").build()},
        // Judged by its last target, the first link would never be looked at.
        {"a name given twice", zip().symlink("l", "../escaped").symlink("./l", ".").build()},
        {"device", device},
        {"not really a zip", "PK\x03\x04 not really a zip"},
    };
    for (const auto& [what, archive] : cases) {
        Extraction x;
        EXPECT_FALSE(x(archive)) << what;
        EXPECT_TRUE(x.workIsEmpty()) << what;
    }
    Extraction x;  // a good archive, but no folder to unpack into
    ASSERT_TRUE(x(zip().build()));
    EXPECT_FALSE(LibArchiveExtractor().extract(x.root.path() + "/a.zip", x.root.path() + "/nowhere"));
}
