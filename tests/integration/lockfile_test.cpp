#include "adapters/qt/lockfile.h"
#include "support/process.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <sys/stat.h>
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

// A folder with exactly this mode, whatever the umask says.
void makeFolder(const QString& folder, mode_t mode)
{
    ASSERT_EQ(::mkdir(QFile::encodeName(folder).constData(), mode), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), mode), 0);
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

// A later start asks from a process of its own; here a thread stands in for it, so that the
// holder's event loop runs meanwhile.
std::future<bool> askFromAnotherStart(const QString& path)
{
    return std::async(std::launch::async, [path] {
        LockFileInstanceLock later(path);
        return !later.tryLock() && later.refusal().anotherInstance && later.askToShow();
    });
}

bool answered(std::future<bool>& asked)
{
    EXPECT_TRUE(
        waitUntil([&] { return asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    return asked.valid() && asked.get();
}

TEST(LockFile, ALaterStartReachesTheHolderEvenBeforeItCanShowAnythingAndPastASocketLeftBehind)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("tunalo.lock"));
    // A run that was killed leaves its socket behind.
    writeFile(folder.filePath(QStringLiteral("tunalo.socket")), "left behind");
    LockFileInstanceLock holder(path);
    ASSERT_TRUE(holder.tryLock());

    auto early = askFromAnotherStart(path);
    EXPECT_TRUE(answered(early)) << "asked while the holder was still starting";
    int shown = 0;
    holder.onShowAsked([&shown] { ++shown; });
    EXPECT_EQ(shown, 1) << "the early request is carried out once the holder can show its window";

    auto later = askFromAnotherStart(path);
    EXPECT_TRUE(answered(later));
    EXPECT_EQ(shown, 2);
}

// Without a runtime folder the lock's folder is one of the user's own in a place anyone may write
// in: it is made private, and one that someone else could hold the lock in is refused with the reason.
TEST(LockFile, ThePrivateFolderIsMadeForTheUserAndRefusedWhenOthersCouldHoldTheLock)
{
    struct Row {
        const char* name;
        std::function<void(const QString& folder, const QString& elsewhere)> make;
        const char* refusal; // nullptr: the lock is taken
    };
    const std::vector<Row> rows = {
        {"missing", [](const QString&, const QString&) {}, nullptr},
        {"the user's own", [&](const QString& folder, const QString&) { makeFolder(folder, 0700); }, nullptr},
        {"open to others", [&](const QString& folder, const QString&) { makeFolder(folder, 0777); },
         "is open to other users"},
        {"another user's",
         [&](const QString& folder, const QString&) {
             makeFolder(folder, 0700);
             ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), ::geteuid() + 1, ::getegid()), 0);
         },
         "belongs to another user"},
        {"a link to a folder of the user's",
         [&](const QString& folder, const QString& elsewhere) {
             makeFolder(elsewhere, 0700);
             ASSERT_TRUE(QFile::link(elsewhere, folder));
         },
         "is a link or no folder"},
        {"a file", [](const QString& folder, const QString&) { writeFile(folder, "x"); },
         "is a link or no folder"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir tmp;
        const QString folder = tmp.filePath(QStringLiteral("tunalo-1000"));
        const QString elsewhere = tmp.filePath(QStringLiteral("elsewhere"));
        row.make(folder, elsewhere);
        const QString path = folder + QStringLiteral("/tunalo.lock");
        LockFileInstanceLock lock({path, true});
        if (!row.refusal) {
            EXPECT_TRUE(lock.tryLock()) << lock.refusal().reason.toStdString();
            struct stat status {};
            ASSERT_EQ(::lstat(QFile::encodeName(folder).constData(), &status), 0);
            EXPECT_EQ(status.st_mode & 07777, 0700u);
            EXPECT_EQ(contents(path), ownProcessId());
            continue;
        }
        EXPECT_FALSE(lock.tryLock());
        EXPECT_FALSE(lock.refusal().anotherInstance);
        EXPECT_TRUE(lock.refusal().reason.contains(QString::fromUtf8(row.refusal)))
            << lock.refusal().reason.toStdString();
        EXPECT_FALSE(QFile::exists(elsewhere + QStringLiteral("/tunalo.lock"))) << "the link was followed";
    }
}

// The private folder is the user's alone: a folder that grants its group or others anything at all
// (to list it, to make or remove a file in it, or to enter it) is refused, and nothing is made in it.
TEST(LockFile, ThePrivateFolderGrantingItsGroupOrOthersAnythingIsRefused)
{
    struct Row {
        mode_t mode;
        bool taken;
    };
    const Row rows[] = {
        {0700, true},  {0710, false}, {0720, false}, {0740, false}, {0701, false}, {0702, false},
        {0704, false}, {0750, false}, {0770, false}, {0705, false}, {0755, false}, {0777, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(QString::number(row.mode, 8).toStdString());
        QTemporaryDir tmp;
        const QString folder = tmp.filePath(QStringLiteral("tunalo-1000"));
        makeFolder(folder, row.mode);
        const QString path = folder + QStringLiteral("/tunalo.lock");
        LockFileInstanceLock lock({path, true});
        EXPECT_EQ(lock.tryLock(), row.taken) << lock.refusal().reason.toStdString();
        EXPECT_EQ(QFile::exists(path), row.taken);
        if (!row.taken) {
            EXPECT_TRUE(lock.refusal().reason.contains(QStringLiteral("is open to other users")))
                << lock.refusal().reason.toStdString();
        }
    }
}

TEST(LockFile, WithoutARuntimeFolderTheLockIsInTheUsersPrivateTemporaryFolder)
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    const LockFileInstanceLock::Place fallback = LockFileInstanceLock::defaultPlace();
    EXPECT_EQ(fallback.path, QDir::tempPath() + QStringLiteral("/tunalo-%1/tunalo.lock").arg(::getuid()));
    EXPECT_TRUE(fallback.privateFolder);
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const LockFileInstanceLock::Place inRuntime = LockFileInstanceLock::defaultPlace();
    EXPECT_EQ(inRuntime.path, runtime.filePath(QStringLiteral("tunalo.lock")));
    EXPECT_FALSE(inRuntime.privateFolder);
    if (saved.isEmpty())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", saved);
}

} // namespace
} // namespace tunalo::test
