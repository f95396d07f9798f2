#include "support/process.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <memory>

namespace tunalo::test {
namespace {

// A bare X server of the test's own, without a notification area until the test starts one.
class BareDisplay {
public:
    BareDisplay()
    {
        int number = 150;
        while (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)) ||
               QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            ++number;
        m_display = QStringLiteral(":%1").arg(number);
        m_environment.insert(QStringLiteral("DISPLAY"), m_display);
        start(QStringLiteral("Xvfb"),
              {m_display, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("800x600x24"),
               QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        m_ready = waitUntil([&] {
            return QProcess::execute(
                       QStringLiteral("sh"),
                       {QStringLiteral("-c"),
                        QStringLiteral("DISPLAY=%1 xdpyinfo >/dev/null 2>&1").arg(m_display)}) == 0;
        });
    }
    ~BareDisplay()
    {
        // Last started, first ended: the X server goes after its clients.
        for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
            (*it)->terminate();
            if (!(*it)->waitForFinished(5000))
                (*it)->kill();
        }
    }
    bool ready() const { return m_ready; }

    QProcess& start(const QString& program, const QStringList& arguments)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(m_environment);
        process->start(program, arguments);
        m_processes.push_back(std::move(process));
        return *m_processes.back();
    }

private:
    QString m_display;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> m_processes;
    bool m_ready = false;
};

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
