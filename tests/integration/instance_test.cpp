#include "support/process.h"

#include <QFile>

#include <gtest/gtest.h>

#include <csignal>

namespace tunalo::test {
namespace {

TEST(SingleInstance, ASecondStartEndsAtOnceSilentlyAndAStaleLockDoesNotBlock)
{
    ProgramUnderTest program;
    QProcess& first = program.start();
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(program.lockFile()); }));

    QProcess& second = program.start();
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(second.readAllStandardError().isEmpty());
    EXPECT_EQ(first.state(), QProcess::Running);

    // A crash leaves the lock file behind; the next start takes it over.
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(5000));
    ASSERT_TRUE(QFile::exists(program.lockFile()));
    QProcess& third = program.start();
    ASSERT_TRUE(third.waitForStarted());
    EXPECT_FALSE(third.waitForFinished(3000)) << "the start after a crash ended with " << third.exitCode();
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

} // namespace
} // namespace tunalo::test
