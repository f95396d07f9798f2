#include "support/desktophosts.h"
#include "support/process.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <memory>

namespace tunalo::test {
namespace {

TEST(LateNotificationArea, TheIconDocksWhenTheAreaAppearsAfterTheStart)
{
    BareDisplay display;
    ASSERT_TRUE(display.ready());
    QProcess& tool = display.start(QStringLiteral(TUNALO_BIN_DIR "/tunalo-traytool"), {});
    QByteArray output;
    const auto said = [&](const char* text) {
        return waitUntil([&] {
            output += tool.readAllStandardOutput();
            return output.contains(text);
        });
    };
    ASSERT_TRUE(said("notification area: no")) << output.constData();
    // Two retries later the tool still runs and waits.
    EXPECT_FALSE(waitUntil([&] { return tool.state() != QProcess::Running; }, 2500));
    EXPECT_FALSE(output.contains("docked"));

    display.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("bottom")});
    EXPECT_TRUE(said("docked")) << output.constData();
    EXPECT_EQ(tool.state(), QProcess::Running);
}

} // namespace
} // namespace tunalo::test
