#include "connection/ReceiveDataFile.h"

#include "tests/support/TestBytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(ReceiveDataFileTest, CreatesOrTruncatesAndWritesThrough) {
    QTemporaryDir dir;
    const QString path = dir.filePath("capture.txt");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents that must go");
    }
    ReceiveDataFile file;
    ASSERT_TRUE(file.open(path));
    EXPECT_EQ(readFile(path), "") << "truncated at open";
    ASSERT_TRUE(file.write("4F 4B ", 6));
    // Unbuffered: the bytes are in the file before it is closed.
    EXPECT_EQ(readFile(path), "4F 4B ");
    ASSERT_TRUE(file.write("\0\f", 2));
    file.close();
    EXPECT_EQ(readFile(path), QByteArray("4F 4B \0\f", 8));
}

TEST(ReceiveDataFileTest, ExistenceMeansOpenableForReading) {
    QTemporaryDir dir;
    const QString path = dir.filePath("there.txt");
    EXPECT_FALSE(ReceiveDataFile::existsForReading(path));
    QFile(path).open(QIODevice::WriteOnly);
    EXPECT_TRUE(ReceiveDataFile::existsForReading(path));
    EXPECT_FALSE(ReceiveDataFile::existsForReading(dir.path())) << "a folder is not a file";
    if (geteuid() != 0) {
        QFile::setPermissions(path, QFile::WriteOwner);
        EXPECT_FALSE(ReceiveDataFile::existsForReading(path));
    }
}

TEST(ReceiveDataFileTest, OpenFailures) {
    QTemporaryDir dir;
    ReceiveDataFile file;
    EXPECT_FALSE(file.open(dir.filePath("missing/folder/file.txt")));
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.open(dir.path()));

    // A second writer to the same file is refused and leaves the first one's bytes alone.
    const QString path = dir.filePath("shared.txt");
    ReceiveDataFile first;
    ASSERT_TRUE(first.open(path));
    ASSERT_TRUE(first.write("mine", 4));
    ReceiveDataFile second;
    EXPECT_FALSE(second.open(path));
    EXPECT_EQ(readFile(path), "mine");
}

TEST(ReceiveDataFileTest, WriteToAFullDiskFails) {
    ReceiveDataFile file;
    ASSERT_TRUE(file.open("/dev/full"));
    EXPECT_FALSE(file.write("x", 1));
    file.close();
    EXPECT_FALSE(file.write("x", 1)) << "a closed file takes nothing";
}
