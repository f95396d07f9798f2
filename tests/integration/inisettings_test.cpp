#include "adapters/qt/inisettings.h"
#include "support/qtwarnings.h"
#include "support/readonlyfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tunalo::test {
namespace {

const QString kApp = QStringLiteral("TNLO2");
const QString kSection = QStringLiteral("options");

class IniStore : public ::testing::Test {
protected:
    QByteArray fileBytes() const
    {
        QFile file(store.filePath(kApp));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeFile(const QByteArray& bytes) const
    {
        QDir().mkpath(folder.path() + QStringLiteral("/config"));
        QFile file(store.filePath(kApp));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QString read(const QString& key) { return store.read(kApp, kSection, key, QStringLiteral("<default>")); }

    QTemporaryDir folder;
    IniSettingsStore store{folder.path() + QStringLiteral("/config")};
};

TEST_F(IniStore, KeepsTextExactlyAcrossSaveAndRead)
{
    const QStringList texts = {QStringLiteral(" 1"), QStringLiteral("untitled,unknown,track,"), QString(),
                               QStringLiteral("  a \"quoted\" = word ; not a comment\\ "),
                               QStringLiteral("Motörhead,ß,日本,🎵")};
    for (const QString& text : texts) {
        store.save(kApp, kSection, QStringLiteral("value"), text);
        EXPECT_EQ(read(QStringLiteral("value")), text);
    }
    EXPECT_EQ(read(QStringLiteral("missing")), QStringLiteral("<default>"));
    EXPECT_EQ(store.read(kApp, QStringLiteral("other"), QStringLiteral("value"), QStringLiteral("d")),
              QStringLiteral("d"));
}

TEST_F(IniStore, WritesAFileAPersonCanReadAndReadsTheirEdits)
{
    store.save(kApp, kSection, QStringLiteral("autopublish"), QStringLiteral(" 1"));
    store.save(kApp, kSection, QStringLiteral("lastsmp"), QStringLiteral(" 2"));
    EXPECT_EQ(fileBytes(), QByteArray("[options]\nautopublish=\" 1\"\nlastsmp=\" 2\"\n"));

    // Another program's edit, unquoted and with a comment, is seen at the next read and kept by a save.
    writeFile("; mine\n[options]\nautopublish = 0\nscreenwordlist=live,demo\n\n[other]\nx=1\n");
    EXPECT_EQ(read(QStringLiteral("autopublish")), QStringLiteral("0"));
    EXPECT_EQ(read(QStringLiteral("screenwordlist")), QStringLiteral("live,demo"));
    store.save(kApp, kSection, QStringLiteral("lastsmp"), QStringLiteral(" 3"));
    EXPECT_EQ(fileBytes(), QByteArray("; mine\n[options]\nautopublish = "
                                      "0\nscreenwordlist=live,demo\nlastsmp=\" 3\"\n\n[other]\nx=1\n"));
}

struct HandWrittenCase {
    const char* name;
    const char* file;
    const char* autopublish; // as read, or nullptr for the default
};

void PrintTo(const HandWrittenCase& row, std::ostream* out)
{
    *out << row.name;
}

class HandWritten : public IniStore, public ::testing::WithParamInterface<HandWrittenCase> {};

TEST_P(HandWritten, ReadsTheOptionsSectionOnly)
{
    writeFile(GetParam().file);
    const char* expected = GetParam().autopublish;
    EXPECT_EQ(read(QStringLiteral("autopublish")),
              expected ? QString::fromUtf8(expected) : QStringLiteral("<default>"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, HandWritten,
    ::testing::Values(
        HandWrittenCase{"AsWritten", "[options]\nautopublish=\" 0\"\n", " 0"},
        HandWrittenCase{"SectionAndKeyInAnyLetterCase", "[Options]\nAutoPublish = 0\n", "0"},
        HandWrittenCase{"SameKeyInALaterSection", "[options]\nlastsmp=2\n[other]\nautopublish=0\n", nullptr},
        HandWrittenCase{"SameKeyInAnEarlierSection", "[other]\nautopublish=0\n[options]\n", nullptr},
        HandWrittenCase{"FirstOfTwoSameNamedKeys", "[options]\nautopublish=2\nAUTOPUBLISH=3\n", "2"}),
    [](const ::testing::TestParamInfo<HandWrittenCase>& info) { return std::string(info.param.name); });

TEST_F(IniStore, ASaveChangesTheKeyWhereverItsLetterCaseStands)
{
    writeFile("[Options]\nAutoPublish = 0\n");
    store.save(kApp, kSection, QStringLiteral("autopublish"), QStringLiteral(" 1"));
    store.save(kApp, kSection, QStringLiteral("lastsmp"), QStringLiteral(" 2"));
    EXPECT_EQ(fileBytes(), QByteArray("[Options]\nAutoPublish=\" 1\"\nlastsmp=\" 2\"\n"));
}

TEST_F(IniStore, ADamagedFileGivesDefaultsAndIsKeptAsideBeforeTheNextSave)
{
    store.save(kApp, kSection, QStringLiteral("autopublish"), QStringLiteral(" 0"));
    const ExpectQtWarning told(QStringLiteral("settings file"));
    const QList<QByteArray> damaged = {QByteArray("[options]\nautopublish=\" 0\n"),
                                       QByteArray("\xff\xfe\x00garbage", 10),
                                       QByteArray("[options]\nthis line means nothing\n")};
    // Each damage in turn: the new damaged copy replaces the one kept before, and the save goes through.
    for (const QByteArray& bytes : damaged) {
        writeFile(bytes);
        EXPECT_EQ(read(QStringLiteral("autopublish")), QStringLiteral("<default>"));
        store.save(kApp, kSection, QStringLiteral("lastsmp"), QStringLiteral(" 1"));
        EXPECT_EQ(read(QStringLiteral("lastsmp")), QStringLiteral(" 1"));
        QFile kept(store.filePath(kApp) + QStringLiteral(".damaged"));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), bytes);
    }
}

// A settings file kept in a folder of dotfiles and linked into place: the save reaches the file the
// link points to, through a chain of links too, and the link stays a link.
TEST_F(IniStore, ASaveWritesThroughALinkToTheFileItPointsTo)
{
    struct Row {
        const char* name;
        const char* link;   // what the settings file's link says
        const char* middle; // what dotfiles/middle.ini says, a link to the target; nullptr for none
        bool targetThere;
    };
    const Row rows[] = {
        {"a relative link", "../dotfiles/TNLO2.ini", nullptr, true},
        {"an absolute link", "@/dotfiles/TNLO2.ini", nullptr, true},
        {"a link to a link", "../dotfiles/middle.ini", "TNLO2.ini", true},
        {"a link to a file not made yet", "../dotfiles/TNLO2.ini", nullptr, false},
    };
    const QString dotfiles = folder.filePath(QStringLiteral("dotfiles"));
    const QString target = dotfiles + QStringLiteral("/TNLO2.ini");
    const QString link = store.filePath(kApp);
    const auto linkText = [&](const char* text) {
        QString path = QString::fromUtf8(text);
        return QFile::encodeName(path.replace(QLatin1Char('@'), folder.path()));
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QDir(dotfiles).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dotfiles));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(link).path()));
        QFile::remove(link);
        if (row.targetThere) {
            QFile file(target);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("[options]\nautopublish=0\n");
        }
        if (row.middle) {
            const QByteArray middle = QFile::encodeName(dotfiles + QStringLiteral("/middle.ini"));
            ASSERT_EQ(::symlink(row.middle, middle.constData()), 0);
        }
        ASSERT_EQ(::symlink(linkText(row.link).constData(), QFile::encodeName(link).constData()), 0);

        EXPECT_TRUE(store.save(kApp, kSection, QStringLiteral("lastsmp"), QStringLiteral(" 2")));
        EXPECT_TRUE(QFileInfo(link).isSymLink()) << "the link was replaced by a plain file";
        QFile written(target);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_EQ(written.readAll(), row.targetThere
                                         ? QByteArray("[options]\nautopublish=0\nlastsmp=\" 2\"\n")
                                         : QByteArray("[options]\nlastsmp=\" 2\"\n"));
        EXPECT_EQ(read(QStringLiteral("lastsmp")), QStringLiteral(" 2"));
        QStringList expected = {QStringLiteral("TNLO2.ini")};
        if (row.middle)
            expected.prepend(QStringLiteral("middle.ini"));
        EXPECT_EQ(QDir(dotfiles).entryList(QDir::Files | QDir::System), expected)
            << "a temporary file was left";
    }
}

// A full disk: no file may grow past the limit while the save runs.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

// A file its owner protected from writes.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const QString& path) : m_path(QFile::encodeName(path))
    {
        chmod(m_path.constData(), 0444);
    }
    ~ReadOnlyFile() { chmod(m_path.constData(), 0644); }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

private:
    QByteArray m_path;
};

// Another program in the middle of its own save.
class HeldLock {
public:
    explicit HeldLock(const QString& path) : m_lock(path + QStringLiteral(".lock")) { m_lock.lock(); }

private:
    QLockFile m_lock;
};

struct FailureCase {
    const char* name;
    const char* cause;
};

void PrintTo(const FailureCase& row, std::ostream* out)
{
    *out << row.name;
}

class FailedSave : public IniStore, public ::testing::WithParamInterface<FailureCase> {
protected:
    // Sets up what stands in the way of the save; it stays until the result goes.
    std::shared_ptr<void> obstacle()
    {
        const std::string name = GetParam().name;
        if (name == "DiskFullForTheLock")
            return std::make_shared<FileSizeLimit>(8);
        if (name == "DiskFullForTheFile")
            return std::make_shared<FileSizeLimit>(1024);
        if (name == "FolderNotWritable")
            return std::make_shared<ReadOnlyFolder>(folder.path(), folder.path() + QStringLiteral("/config"));
        if (name == "FileReadOnly")
            return std::make_shared<ReadOnlyFile>(store.filePath(kApp));
        return std::make_shared<HeldLock>(store.filePath(kApp));
    }
};

// The old file stays whole, and both the message and the save's result name what stood in the way.
TEST_P(FailedSave, LeavesTheOldFileWholeAndNamesTheCause)
{
    ASSERT_TRUE(store.save(kApp, kSection, QStringLiteral("autopublish"), QStringLiteral(" 1")));
    const QByteArray before = fileBytes();
    const QString cause = QString::fromLatin1(GetParam().cause);
    const ExpectQtWarning told(cause);
    {
        const auto inTheWay = obstacle();
        const ChangeResult saved =
            store.save(kApp, kSection, QStringLiteral("screenwordlist"), QString(4096, QLatin1Char('w')));
        EXPECT_FALSE(saved);
        EXPECT_TRUE(saved.cause().contains(cause)) << saved.cause().toStdString();
    }
    EXPECT_EQ(told.seen(), 1) << "the save names its cause once";
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(read(QStringLiteral("screenwordlist")), QStringLiteral("<default>"));
    EXPECT_TRUE(store.save(kApp, kSection, QStringLiteral("lastsmp"), QStringLiteral(" 2")));
    EXPECT_EQ(read(QStringLiteral("lastsmp")), QStringLiteral(" 2")) << "the next save goes through";
}

INSTANTIATE_TEST_SUITE_P(
    Causes, FailedSave,
    ::testing::Values(FailureCase{"DiskFullForTheLock", "the disk is full"},
                      FailureCase{"DiskFullForTheFile", "the disk is full"},
                      FailureCase{"FolderNotWritable", "cannot be written"},
                      FailureCase{"FileReadOnly", "the file is read-only"},
                      FailureCase{"HeldByAnotherProgram", "another program holds the file"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace tunalo::test
