#include "adapters/qt/xdgautostart.h"
#include "support/readonlyfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace tunalo::test {
namespace {

QString entryText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The desktop's own checker of entries finds nothing to complain about.
void expectValidEntry(const QString& path)
{
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(QStringLiteral("desktop-file-validate"), {path});
    ASSERT_TRUE(validate.waitForFinished(15000)) << "desktop-file-validate (desktop-file-utils) did not run";
    EXPECT_EQ(validate.exitCode(), 0) << validate.readAll().constData();
    EXPECT_EQ(validate.readAll(), QByteArray()) << "hints for " << path.toStdString();
}

TEST(XdgAutostart, TheEntryComesAndGoesAndIsReadBack)
{
    QTemporaryDir config;
    const QString entry = config.filePath(QStringLiteral("autostart/tunalo.desktop"));
    XdgAutostart autostart(QStringLiteral("/usr/bin/tunalo"), entry);
    EXPECT_FALSE(autostart.isEnabled());

    // The autostart folder does not exist yet on a fresh account.
    ASSERT_TRUE(autostart.setEnabled(true));
    EXPECT_TRUE(autostart.isEnabled());
    const QString text = entryText(entry);
    EXPECT_TRUE(text.startsWith(QStringLiteral("[Desktop Entry]\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=/usr/bin/tunalo --autostart\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nTryExec=/usr/bin/tunalo\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nType=Application\n"))) << text.toStdString();
    expectValidEntry(entry);

    ASSERT_TRUE(autostart.setEnabled(false));
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_TRUE(autostart.setEnabled(false)) << "switching off what is off is no failure";
}

TEST(XdgAutostart, AnEntryTheDesktopSkipsCountsAsOffAndSwitchingOnReplacesIt)
{
    QTemporaryDir config;
    const QString entry = config.filePath(QStringLiteral("tunalo.desktop"));
    for (const char* line : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        QFile file(entry);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("[Desktop Entry]\nExec=tunalo\n") + line + "\n");
        file.close();
        XdgAutostart autostart(QStringLiteral("/usr/bin/tunalo"), entry);
        EXPECT_FALSE(autostart.isEnabled()) << line;
        ASSERT_TRUE(autostart.setEnabled(true));
        EXPECT_TRUE(autostart.isEnabled()) << line;
    }
}

TEST(XdgAutostart, AFolderThatCannotBeMadeLeavesItOffAndSaysSo)
{
    QTemporaryDir config;
    QFile blocker(config.filePath(QStringLiteral("autostart")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder belongs
    blocker.close();
    XdgAutostart autostart(QStringLiteral("/usr/bin/tunalo"),
                           config.filePath(QStringLiteral("autostart/tunalo.desktop")));
    const ChangeResult result = autostart.setEnabled(true);
    EXPECT_FALSE(result);
    EXPECT_TRUE(result.cause().contains(QStringLiteral("a file stands where the folder")))
        << result.cause().toStdString();
    EXPECT_FALSE(autostart.isEnabled());
}

// Neither switching on nor switching off goes through a folder the user may not write or over an
// entry the user protected, and the refusal says which.
TEST(XdgAutostart, ARefusedChangeLeavesTheEntryAsItWasAndSaysWhy)
{
    struct Row {
        const char* name;
        bool wasOn;
        bool protectEntry; // the entry read-only; otherwise the folder
        const char* cause;
    };
    const Row rows[] = {
        {"switching on in a read-only folder", false, false,
         "cannot make Tunalo start at log-in: the folder"},
        {"switching off in a read-only folder", true, false,
         "cannot stop Tunalo starting at log-in: the folder"},
        {"switching on over a protected entry", false, true, "is read-only"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir config;
        const QString folder = config.filePath(QStringLiteral("autostart"));
        const QString entry = folder + QStringLiteral("/tunalo.desktop");
        ASSERT_TRUE(QDir().mkpath(folder));
        XdgAutostart autostart(QStringLiteral("/usr/bin/tunalo"), entry);
        if (row.wasOn) {
            ASSERT_TRUE(autostart.setEnabled(true));
        }
        if (row.protectEntry) {
            QFile file(entry);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("[Desktop Entry]\nHidden=true\n");
            file.close();
            ASSERT_TRUE(file.setPermissions(QFileDevice::ReadOwner));
        }
        const QByteArray before = entryText(entry).toUtf8();
        ChangeResult result;
        {
            std::unique_ptr<ReadOnlyFolder> readOnly;
            if (!row.protectEntry)
                readOnly = std::make_unique<ReadOnlyFolder>(config.path(), folder);
            result = autostart.setEnabled(!row.wasOn);
        }
        EXPECT_FALSE(result);
        EXPECT_TRUE(result.cause().contains(QString::fromUtf8(row.cause))) << result.cause().toStdString();
        EXPECT_EQ(autostart.isEnabled(), row.wasOn);
        EXPECT_EQ(entryText(entry).toUtf8(), before);
    }
}

// An entry kept in a folder of dotfiles and linked into place is written where the link points.
TEST(XdgAutostart, AnEntryThatIsALinkIsWrittenWhereItPoints)
{
    QTemporaryDir config;
    const QString target = config.filePath(QStringLiteral("dotfiles/tunalo.desktop"));
    const QString entry = config.filePath(QStringLiteral("autostart/tunalo.desktop"));
    ASSERT_TRUE(QDir().mkpath(config.filePath(QStringLiteral("dotfiles"))));
    ASSERT_TRUE(QDir().mkpath(config.filePath(QStringLiteral("autostart"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("../dotfiles/tunalo.desktop"), entry));
    XdgAutostart autostart(QStringLiteral("/usr/bin/tunalo"), entry);
    ASSERT_TRUE(autostart.setEnabled(true));
    EXPECT_TRUE(QFileInfo(entry).isSymLink());
    EXPECT_TRUE(entryText(target).contains(QStringLiteral("\nExec=/usr/bin/tunalo --autostart\n")));
    EXPECT_TRUE(autostart.isEnabled());
}

TEST(XdgAutostart, TheProgramsPathIsQuotedWhereTheEntryFormatNeedsIt)
{
    const std::vector<std::pair<QString, QString>> rows = {
        {QStringLiteral("/usr/bin/tunalo"), QStringLiteral("/usr/bin/tunalo")},
        {QStringLiteral("/opt/My Programs/tunalo"), QStringLiteral("\"/opt/My Programs/tunalo\"")},
        {QStringLiteral("/home/a/100%/tunalo"), QStringLiteral("/home/a/100%%/tunalo")},
        // Inside quotes " ` $ \ take a backslash, and the value's own escaping doubles each backslash.
        {QStringLiteral("/home/a/$x \"q\"/b\\c/tunalo"),
         QStringLiteral("\"/home/a/\\\\$x \\\\\"q\\\\\"/b\\\\\\\\c/tunalo\"")},
    };
    for (const auto& [program, exec] : rows)
        EXPECT_EQ(XdgAutostart::execValue(program), exec) << program.toStdString();

    // TryExec holds the path as it is, Exec as the quoted argument.
    QTemporaryDir config;
    const QString entry = config.filePath(QStringLiteral("tunalo.desktop"));
    ASSERT_TRUE(XdgAutostart(rows[1].first, entry).setEnabled(true));
    const QString text = entryText(entry);
    EXPECT_TRUE(text.contains(QStringLiteral("\nTryExec=/opt/My Programs/tunalo\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=\"/opt/My Programs/tunalo\" --autostart\n")))
        << text.toStdString();
    expectValidEntry(entry);
}

TEST(XdgAutostart, TheDefaultEntryFollowsXdgConfigHome)
{
    const bool wasSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/somewhere/config");
    EXPECT_EQ(XdgAutostart::defaultEntryPath(), QStringLiteral("/somewhere/config/autostart/tunalo.desktop"));
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(XdgAutostart::defaultEntryPath(),
              QDir::homePath() + QStringLiteral("/.config/autostart/tunalo.desktop"));
    if (wasSet)
        qputenv("XDG_CONFIG_HOME", saved);
}

} // namespace
} // namespace tunalo::test
