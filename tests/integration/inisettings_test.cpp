#include "platform/qt/inisettings.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

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

TEST_F(IniStore, ADamagedFileGivesDefaultsAndIsKeptAsideBeforeTheNextSave)
{
    store.save(kApp, kSection, QStringLiteral("autopublish"), QStringLiteral(" 0"));
    const QList<QByteArray> damaged = {QByteArray("[options]\nautopublish=\" 0\n"),
                                       QByteArray("\xff\xfe\x00garbage", 10),
                                       QByteArray("[options]\nthis line means nothing\n")};
    for (const QByteArray& bytes : damaged) {
        writeFile(bytes);
        EXPECT_EQ(read(QStringLiteral("autopublish")), QStringLiteral("<default>"));
    }
    store.save(kApp, kSection, QStringLiteral("lastsmp"), QStringLiteral(" 1"));
    EXPECT_EQ(read(QStringLiteral("lastsmp")), QStringLiteral(" 1"));
    QFile kept(store.filePath(kApp) + QStringLiteral(".damaged"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), damaged.last());
}

// A full disk: no file may grow past a few bytes while the save runs.
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

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

TEST_F(IniStore, AFailedSaveLeavesTheOldFileWhole)
{
    store.save(kApp, kSection, QStringLiteral("autopublish"), QStringLiteral(" 1"));
    const QByteArray before = fileBytes();
    {
        FileSizeLimit diskFull(8);
        store.save(kApp, kSection, QStringLiteral("screenwordlist"), QStringLiteral("a long list of words"));
    }
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(read(QStringLiteral("autopublish")), QStringLiteral(" 1"));
    EXPECT_EQ(read(QStringLiteral("screenwordlist")), QStringLiteral("<default>"));
}

} // namespace
} // namespace tunalo::test
