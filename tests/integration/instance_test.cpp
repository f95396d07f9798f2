#include "support/playerwindow.h"
#include "support/process.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace tunalo::test {
namespace {

bool holdsTheLock(const ProgramUnderTest& program, const QProcess& process)
{
    QFile file(program.lockFile());
    return file.open(QIODevice::ReadOnly) && file.readAll() == QByteArray::number(process.processId()) + '\n';
}

TEST(SingleInstance, ASecondStartEndsAtOnceSayingWhyAndAStaleLockDoesNotBlock)
{
    ProgramUnderTest program;
    QProcess& first = program.start();
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return holdsTheLock(program, first); }));

    QProcess& second = program.start();
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    const QByteArray error = second.readAllStandardError();
    EXPECT_TRUE(error.startsWith("tunalo: Tunalo is already running")) << error.constData();
    EXPECT_TRUE(error.contains("; its window is shown")) << error.constData();
    EXPECT_EQ(error.count('\n'), 1) << error.constData();
    EXPECT_EQ(first.state(), QProcess::Running);

    // A crash leaves the lock file behind; the next start takes it over.
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(5000));
    ASSERT_TRUE(QFile::exists(program.lockFile()));
    QProcess& third = program.start();
    ASSERT_TRUE(third.waitForStarted());
    EXPECT_TRUE(waitUntil([&] { return holdsTheLock(program, third); }))
        << "the start after a crash ended with " << third.exitCode() << ": "
        << third.readAllStandardError().constData();
}

// A lock file that a crash or a full disk left empty, garbled or as a folder once kept every
// later start from running.
TEST(SingleInstance, AnUnreadableLockLeftBehindDoesNotBlockTheStart)
{
    const std::vector<std::pair<const char*, std::function<void(const QString&)>>> leftovers = {
        {"empty", [](const QString& path) { QFile(path).open(QIODevice::WriteOnly); }},
        {"garbage",
         [](const QString& path) {
             QFile file(path);
             file.open(QIODevice::WriteOnly);
             file.write("not a process id");
         }},
        {"folder", [](const QString& path) { QDir().mkdir(path); }},
    };
    for (const auto& [name, leave] : leftovers) {
        SCOPED_TRACE(name);
        ProgramUnderTest program;
        leave(program.lockFile());
        QProcess& process = program.start();
        ASSERT_TRUE(process.waitForStarted());
        EXPECT_TRUE(waitUntil([&] { return holdsTheLock(program, process); }))
            << "ended with " << process.exitCode() << ": " << process.readAllStandardError().constData();
    }
}

TEST(NoDisplay, TheProgramSaysSoInOneLineAndFails)
{
    ProgramUnderTest program;
    QProcessEnvironment noDisplay;
    noDisplay.insert(QStringLiteral("DISPLAY"), QStringLiteral(":4711"));
    QProcess& process = program.start(noDisplay);
    ASSERT_TRUE(process.waitForFinished(15000));
    EXPECT_NE(process.exitCode(), 0);
    const QByteArray error = process.readAllStandardError();
    EXPECT_TRUE(error.contains("cannot reach an X display")) << error.constData();
    EXPECT_EQ(error.count('\n'), 1) << error.constData();
}

// Tunalo's windows by the main window's title, mapped or not.
QString windowsTitledTunalo(bool onlyVisible)
{
    QStringList arguments{QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^TUNALO$")};
    if (onlyVisible)
        arguments.insert(1, QStringLiteral("--onlyvisible"));
    return xdotool(arguments);
}

// The program's main window while it is on the screen; 0 while it is not.
std::uint32_t shownMainWindow()
{
    // Qt also keeps an unmapped helper window with the same title.
    return windowsTitledTunalo(true).section(QLatin1Char('\n'), 0, 0).toUInt();
}

// Started at log-in, Tunalo stays in the notification area; a start from the menu brings its
// window, hidden or covered, to the front with the focus, and ends.
TEST(SingleInstance, AStartAtLogInStaysInTheTrayAndALaterStartBringsTheWindowToTheFront)
{
    ProgramUnderTest program;
    QProcess& first = program.start({}, {QStringLiteral("--autostart")});
    ASSERT_TRUE(waitUntil([&] { return !windowsTitledTunalo(false).isEmpty(); }, 30000));
    pause(2000);
    EXPECT_EQ(shownMainWindow(), 0u) << "started at log-in";

    PlayerWindow other(QStringLiteral("Untitled - Notepad"));
    ASSERT_TRUE(other.started());
    ASSERT_TRUE(other.send(QStringLiteral("activate")));
    std::uint32_t window = 0;
    for (const char* before : {"hidden", "covered"}) {
        SCOPED_TRACE(before);
        ASSERT_TRUE(waitUntil([&] { return activeWindow() == other.handle(); }));
        QProcess& again = program.start();
        ASSERT_TRUE(again.waitForFinished(20000));
        EXPECT_EQ(again.exitCode(), 0) << again.readAllStandardError().constData();
        EXPECT_TRUE(waitUntil([&] { return (window = shownMainWindow()) != 0 && activeWindow() == window; }))
            << "shown " << shownMainWindow() << ", active " << activeWindow();
        EXPECT_EQ(first.state(), QProcess::Running);
        ASSERT_TRUE(other.send(QStringLiteral("activate")));
    }
}

// A Wayland session: Qt would look for its Wayland plugin first and say so on stderr.
TEST(WaylandSession, TunaloGoesStraightToX11UnlessThePlatformIsChosen)
{
    QProcessEnvironment wayland;
    wayland.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    wayland.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("sway"));
    wayland.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-tunalo-test"));
    wayland.insert(QStringLiteral("QT_QPA_PLATFORM"), QString());
    {
        ProgramUnderTest program;
        QProcess& process = program.start(wayland);
        ASSERT_TRUE(waitUntil([&] { return shownMainWindow() != 0; }, 30000));
        process.kill();
        process.waitForFinished(5000);
        const QByteArray error = process.readAllStandardError();
        EXPECT_FALSE(error.contains("wayland") || error.contains("qt.qpa")) << error.constData();
    }

    wayland.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("tunalo-test-platform"));
    ProgramUnderTest program;
    QProcess& process = program.start(wayland);
    ASSERT_TRUE(process.waitForFinished(15000));
    EXPECT_TRUE(process.readAllStandardError().contains("\"tunalo-test-platform\""))
        << "the user's own choice is the one Qt tries";
}

} // namespace
} // namespace tunalo::test
