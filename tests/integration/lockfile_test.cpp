#include "platform/qt/lockfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace tunalo::test {
namespace {

QByteArray ownProcessId()
{
    return QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void writeFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// What a crash, a full disk or an older run can leave where the lock belongs.
struct Leftover {
    const char* name;
    std::function<void(const QString& path)> make;
};

TEST(LockFile, WhateverADeadRunLeftBehindIsTakenOver)
{
    const std::vector<Leftover> leftovers = {
        {"nothing", [](const QString&) {}},
        {"an empty file", [](const QString& path) { writeFile(path, {}); }},
        {"text that is no process id", [](const QString& path) { writeFile(path, "\x01garbage\xff\n"); }},
        {"the id of a process that is gone", [](const QString& path) { writeFile(path, "999999999\n"); }},
        {"an empty folder", [](const QString& path) { ASSERT_TRUE(QDir().mkdir(path)); }},
    };
    for (const Leftover& leftover : leftovers) {
        SCOPED_TRACE(leftover.name);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("tunalo.lock"));
        leftover.make(path);
        LockFileInstanceLock lock(path);
        EXPECT_TRUE(lock.tryLock()) << lock.refusal().reason.toStdString();
        EXPECT_EQ(contents(path), ownProcessId());
    }
}

TEST(LockFile, ALiveHolderKeepsItUntilItEndsAndIsNamedInTheRefusal)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("tunalo.lock"));
    auto holder = std::make_unique<LockFileInstanceLock>(path);
    ASSERT_TRUE(holder->tryLock());

    LockFileInstanceLock second(path);
    EXPECT_FALSE(second.tryLock());
    EXPECT_TRUE(second.refusal().anotherInstance);
    EXPECT_TRUE(
        second.refusal().reason.contains(QStringLiteral("already running (process %1)").arg(::getpid())))
        << second.refusal().reason.toStdString();
    EXPECT_EQ(contents(path), ownProcessId()) << "the refused start must not touch the holder's file";

    holder.reset();
    EXPECT_FALSE(QFile::exists(path)) << "an instance that ends cleanly removes its lock file";
    EXPECT_TRUE(second.tryLock());
    EXPECT_TRUE(second.tryLock()) << "asking again while holding it";
}

TEST(LockFile, AFolderWithContentsIsLeftAloneAndTheRefusalSaysWhatToDo)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("tunalo.lock"));
    ASSERT_TRUE(QDir().mkpath(path + QStringLiteral("/keep")));
    LockFileInstanceLock lock(path);
    EXPECT_FALSE(lock.tryLock());
    EXPECT_FALSE(lock.refusal().anotherInstance);
    EXPECT_TRUE(lock.refusal().reason.contains(QStringLiteral("folder")))
        << lock.refusal().reason.toStdString();
    EXPECT_TRUE(QFileInfo::exists(path + QStringLiteral("/keep")));
}

} // namespace
} // namespace tunalo::test
