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

namespace {

// The programs a program started itself, such as Tunalo's browser engine.
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> children;
    QFile list(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (list.open(QIODevice::ReadOnly))
        for (const QByteArray& child : list.readAll().simplified().split(' '))
            if (child.toLongLong() > 0)
                children.append(child.toLongLong());
    return children;
}

// Whether a process still runs; one that ended and waits to be reaped does not.
bool running(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(')');
    return end >= 0 && line.mid(end + 2, 1) != "Z";
}

} // namespace

ProgramUnderTest::~ProgramUnderTest()
{
    for (auto& process : m_processes) {
        if (process->state() != QProcess::NotRunning) {
            // What the program started ends once the program has gone (the browser engine writes
            // its cookies then); the home folder goes only after it.
            const QList<qint64> children = childrenOf(process->processId());
            process->kill();
            process->waitForFinished(5000);
            const QDeadlineTimer deadline(10000);
            for (qint64 child : children)
                while (running(child) && !deadline.hasExpired())
                    QThread::msleep(20);
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
