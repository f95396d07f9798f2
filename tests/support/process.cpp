#include "support/process.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <QTimer>

namespace tunalo::test {

ProgramUnderTest::ProgramUnderTest()
{
    for (const char* folder : {"config", "data", "runtime", "cache"})
        QDir(m_home.path()).mkpath(QString::fromLatin1(folder));
    QFile::setPermissions(m_home.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

ProgramUnderTest::~ProgramUnderTest()
{
    for (auto& process : m_processes) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
}

QProcessEnvironment ProgramUnderTest::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path() + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home.path() + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path() + QStringLiteral("/runtime"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.path() + QStringLiteral("/cache"));
    return environment;
}

QProcess& ProgramUnderTest::start(const QProcessEnvironment& extra, const QStringList& arguments)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = this->environment();
    for (const QString& key : extra.keys())
        environment.insert(key, extra.value(key));
    process->setProcessEnvironment(environment);
    process->start(QStringLiteral(TUNALO_BIN_DIR "/tunalo"), arguments);
    m_processes.push_back(std::move(process));
    return *m_processes.back();
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    // Each look at the condition comes in a turn of its own of the event loop.
    for (QCoreApplication::processEvents(); !condition(); QCoreApplication::processEvents()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

bool runUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (condition() || deadline.hasExpired())
            loop.quit();
    });
    look.start(10);
    if (!condition())
        loop.exec();
    return condition();
}

QString xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(15000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

std::uint32_t activeWindow()
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_ACTIVE_WINDOW")});
    xprop.waitForFinished(5000);
    const QString answer = QString::fromLatin1(xprop.readAllStandardOutput()).trimmed();
    return answer.section(QLatin1Char('#'), 1).trimmed().toUInt(nullptr, 16);
}

} // namespace tunalo::test
