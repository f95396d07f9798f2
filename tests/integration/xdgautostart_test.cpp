#include "platform/qt/xdgautostart.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
    EXPECT_FALSE(autostart.setEnabled(true));
    EXPECT_FALSE(autostart.isEnabled());
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
