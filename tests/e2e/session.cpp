#include "session.h"

#include "ui/panel.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTextStream>

#include <gtest/gtest.h>

namespace tunalo::test {

namespace {
// The main window's panel container, in twips.
constexpr int kContainerLeft = 2520;
constexpr int kContainerTop = 1440;
} // namespace

QString xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(15000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

Session::Session(const QString& playerTitle)
    : m_service(std::make_unique<service::testkit::ServiceProcess>(m_dir.path() / "service.db",
                                                                   m_dir.path() / "service.log")),
      m_player(playerTitle)
{
    service::testkit::Visitor visitor(m_service->port());
    EXPECT_TRUE(visitor.signUp(kName, kPassword));
    EXPECT_TRUE(m_player.started());
}

bool Session::startProgram()
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("TUNALO_SERVICE_URL"),
                       QStringLiteral("http://127.0.0.1:%1").arg(m_service->port()));
    m_program = &m_files.start(environment);
    if (!m_program->waitForStarted())
        return false;
    // Qt also keeps an unmapped helper window with the same title; the main window is the visible one.
    const bool shown = waitUntil(
        [&] {
            const QString found = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                           QStringLiteral("--name"), QStringLiteral("^TUNALO$")});
            m_mainWindow = found.section(QLatin1Char('\n'), 0, 0).toUInt();
            return m_mainWindow != 0;
        },
        30000);
    return shown;
}

void Session::click(int left, int top, int width, int height, int button)
{
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(m_mainWindow)});
    xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QStringLiteral("--window"),
             QString::number(m_mainWindow), QString::number(twips(left + width / 2)),
             QString::number(twips(top + height / 2)), QStringLiteral("click"), QString::number(button)});
}

void Session::clickInPanel(int left, int top, int width, int height)
{
    click(kContainerLeft + left, kContainerTop + top, width, height);
}

void Session::pressStartPublishing()
{
    click(120, 1200, 2175, 255);
}

QStringList Session::requests()
{
    QFile log(QString::fromStdString((m_dir.path() / "service.log").string()));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool Session::logIn()
{
    const auto answered = [&] { return !requests().filter(QStringLiteral("POST /fb/login 303")).isEmpty(); };
    const auto homePages = [&] { return requests().filter(QStringLiteral("GET /fb/tnlouserhome.php")).size(); };
    // The log-in page shows once the home page has answered "failed"; type into it, and try
    // again while the page may still have been on its way.
    for (int attempt = 0; attempt < 5 && !answered(); ++attempt) {
        if (!waitUntil([&] { return homePages() >= 1; }))
            return false;
        waitUntil([] { return false; }, 1500);
        // The page's heading is a quiet place to give the page the focus; the name field comes next.
        clickInPanel(600, 600, 1500, 300);
        xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("Tab")});
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a")});
        xdotool({QStringLiteral("type"), QString::fromLatin1(kName)});
        xdotool({QStringLiteral("key"), QStringLiteral("Tab")});
        xdotool({QStringLiteral("type"), QString::fromLatin1(kPassword)});
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        waitUntil(answered, 5000);
    }
    if (!answered())
        return false;
    // The log-in leads back to the home page, which now answers "Login Succsesfull"; Tunalo reads
    // its title on its next poll.
    const qsizetype before = requests().indexOf(requests().filter(QStringLiteral("POST /fb/login 303")).last());
    waitUntil([&] { return requests().mid(before).filter(QStringLiteral("GET /fb/tnlouserhome.php")).size() >= 1; });
    waitUntil([] { return false; }, 1000);
    return true;
}

QStringList Session::feed()
{
    service::testkit::Visitor visitor(m_service->port());
    const auto result = visitor.get("/fb/feed.json");
    QStringList songs;
    if (!result || result->status != 200)
        return songs;
    for (const QJsonValue& post : QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).array())
        songs.append(post.toObject().value(QStringLiteral("song")).toString());
    return songs;
}

bool Session::waitForFeed(const QStringList& songs)
{
    return waitUntil([&] { return feed() == songs; });
}

QString Session::settingsValue(const QString& key)
{
    QSettings settings(m_files.settingsFile(), QSettings::IniFormat);
    return settings.value(QStringLiteral("options/") + key).toString();
}

QList<quint32> Session::otherVisibleWindows()
{
    QList<quint32> windows;
    const QString found = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                   QString::number(m_program->processId()), QStringLiteral("")});
    for (const QString& line : found.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (line.toUInt() != m_mainWindow)
            windows.append(line.toUInt());
    return windows;
}

QRect Session::geometry(quint32 window)
{
    const QString shell = xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), QString::number(window)});
    QMap<QString, int> values;
    for (const QString& line : shell.split(QLatin1Char('\n')))
        values.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1).toInt());
    return QRect(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")), values.value(QStringLiteral("WIDTH")),
                 values.value(QStringLiteral("HEIGHT")));
}

std::string Session::screenshot(const QString& name)
{
    const QString path = QDir::tempPath() + QStringLiteral("/tunalo-e2e-") + name + QStringLiteral(".png");
    QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path});
    return "screenshot: " + path.toStdString() + "\nrequests:\n" + requests().join(QLatin1Char('\n')).toStdString();
}

} // namespace tunalo::test
