#include "platform/qt/inisettings.h"
#include "support/qtwarnings.h"

#include <QDir>
#include <QFile>
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

// A folder the program may not write in: read-only, and for root (who may write anywhere) the
// save runs as nobody.
class ReadOnlyFolder {
public:
    ReadOnlyFolder(const QString& parent, const QString& folder) : m_folder(folder)
    {
        chmod(QFile::encodeName(parent).constData(), 0755);
        chmod(QFile::encodeName(folder).constData(), 0555);
        if (geteuid() == 0 && setegid(kNobody) == 0 && seteuid(kNobody) == 0)
            m_wasRoot = true;
    }
    ~ReadOnlyFolder()
    {
        if (m_wasRoot) {
            [[maybe_unused]] const bool restored = seteuid(0) == 0 && setegid(0) == 0;
        }
        chmod(QFile::encodeName(m_folder).constData(), 0755);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

private:
    static constexpr uid_t kNobody = 65534;
    QString m_folder;
    bool m_wasRoot = false;
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
        return std::make_shared<HeldLock>(store.filePath(kApp));
    }
};

// The old file stays whole, and the message names what stood in the way.
TEST_P(FailedSave, LeavesTheOldFileWholeAndNamesTheCause)
{
    store.save(kApp, kSection, QStringLiteral("autopublish"), QStringLiteral(" 1"));
    const QByteArray before = fileBytes();
    const ExpectQtWarning told(QString::fromLatin1(GetParam().cause));
    {
        const auto inTheWay = obstacle();
        store.save(kApp, kSection, QStringLiteral("screenwordlist"), QString(4096, QLatin1Char('w')));
    }
    EXPECT_EQ(told.seen(), 1) << "the save names its cause once";
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(read(QStringLiteral("screenwordlist")), QStringLiteral("<default>"));
    store.save(kApp, kSection, QStringLiteral("lastsmp"), QStringLiteral(" 2"));
    EXPECT_EQ(read(QStringLiteral("lastsmp")), QStringLiteral(" 2")) << "the next save goes through";
}

INSTANTIATE_TEST_SUITE_P(
    Causes, FailedSave,
    ::testing::Values(FailureCase{"DiskFullForTheLock", "the disk is full"},
                      FailureCase{"DiskFullForTheFile", "the disk is full"},
                      FailureCase{"FolderNotWritable", "cannot be written"},
                      FailureCase{"HeldByAnotherProgram", "another program holds the file"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace tunalo::test
