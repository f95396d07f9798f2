#include "session.h"

#include "ui/panel.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTextStream>

#include <gtest/gtest.h>

namespace tunalo::test {

namespace {
// The main window's panel container, in twips.
constexpr int kContainerLeft = 2520;
constexpr int kContainerTop = 1440;
} // namespace

Session::Session(const QString& playerTitle, const std::vector<std::string>& serviceOptions)
    : m_service(std::make_unique<service::testkit::ServiceProcess>(m_dir.path() / "service.db",
                                                                   m_dir.path() / "service.log", serviceOptions)),
      m_player(playerTitle)
{
    service::testkit::Visitor visitor(m_service->port());
    EXPECT_TRUE(visitor.signUp(kName, kPassword));
    // The songs for everyone, so that the service's feed, which the tests read, shows them.
    EXPECT_TRUE(visitor.chooseAudience("public"));
    EXPECT_TRUE(m_player.started());
}

StandInProxy& Session::front()
{
    if (!m_front)
        m_front = std::make_unique<StandInProxy>(m_service->port());
    return *m_front;
}

bool Session::startProgram()
{
    QProcessEnvironment environment;
    environment.insert(
        QStringLiteral("TUNALO_SERVICE_URL"),
        QStringLiteral("http://127.0.0.1:%1").arg(m_front ? m_front->port() : m_service->port()));
    m_program = &m_files.start(environment);
    if (!m_program->waitForStarted())
        return false;
    return waitUntil([&] { return findMainWindow() != 0; }, 30000);
}

quint32 Session::findMainWindow()
{
    // Qt also keeps an unmapped helper window with the same title, and the window may still be
    // made anew while the program starts; the main window is the visible one, looked up each time.
    const QString found = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                   QStringLiteral("--name"), QStringLiteral("^TUNALO$")});
    m_mainWindow = found.section(QLatin1Char('\n'), 0, 0).toUInt();
    return m_mainWindow;
}

void Session::click(int left, int top, int width, int height, int button)
{
    findMainWindow();
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(m_mainWindow)});
    // No --sync: xdotool waits for ever when the pointer is already where it is sent.
    xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(m_mainWindow),
             QString::number(twips(left + width / 2)), QString::number(twips(top + height / 2)),
             QStringLiteral("click"), QString::number(button)});
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

bool Session::waitForPosts(qsizetype count)
{
    const auto posts = [&] { return requests().filter(QStringLiteral("GET /fb/update.php")).size(); };
    waitUntil([&] { return posts() >= count; });
    return posts() == count;
}

bool Session::logIn()
{
    const auto answered = [&] { return !requests().filter(QStringLiteral("POST /fb/login 303")).isEmpty(); };
    const auto homePages = [&] {
        return requests().filter(QStringLiteral("GET /fb/tnlouserhome.php")).size();
    };
    // The log-in page shows once the home page has answered "failed"; type into it, and try
    // again while the page may still have been on its way.
    for (int attempt = 0; attempt < 5 && !answered(); ++attempt) {
        if (!waitUntil([&] { return homePages() >= 1; }))
            return false;
        // The page is docked once its title has been read; the browser then needs a moment to draw.
        pause(2500);
        clickInPanel(1320, 2685, 2655, 270); // the page's name field
        xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a")});
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
    const qsizetype before =
        requests().indexOf(requests().filter(QStringLiteral("POST /fb/login 303")).last());
    waitUntil([&] {
        return requests().mid(before).filter(QStringLiteral("GET /fb/tnlouserhome.php")).size() >= 1;
    });
    pause(1000);
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

QList<QRect> Session::programWindows()
{
    findMainWindow();
    // Windows share the resource-id base of the X connection that made them.
    constexpr quint32 kClientBits = 0x1fffff;
    const quint32 base = m_mainWindow & ~kClientBits;
    QProcess tree;
    tree.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    tree.waitForFinished(15000);
    // A line reads: 0x800062 (has no name): ()  202x65+1075+720  +1075+720
    static const QRegularExpression line(
        QStringLiteral(R"(^\s*(0x[0-9a-f]+) .*\s(\d+)x(\d+)[+-]\d+[+-]\d+\s+\+(-?\d+)\+(-?\d+)\s*$)"));
    QList<QRect> windows;
    for (const QString& text : QString::fromUtf8(tree.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = line.match(text);
        const quint32 id = match.captured(1).toUInt(nullptr, 16);
        if (!match.hasMatch() || (id & ~kClientBits) != base || id == m_mainWindow)
            continue;
        QProcess info;
        info.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), match.captured(1)});
        info.waitForFinished(15000);
        if (info.readAllStandardOutput().contains("IsViewable"))
            windows.append(QRect(match.captured(4).toInt(), match.captured(5).toInt(),
                                 match.captured(2).toInt(), match.captured(3).toInt()));
    }
    return windows;
}

QRect Session::balloon()
{
    for (const QRect& window : programWindows())
        if (window.width() > 100 && window.width() < 640 && window.height() < 300 && window.y() > 0)
            return window;
    return {};
}

QRect Session::trayIcon()
{
    for (const QRect& window : programWindows())
        if (window.width() >= 8 && window.width() <= 64 && window.height() >= 8 && window.height() <= 64)
            return window;
    return {};
}

void Session::clickOnScreen(const QRect& place, int button)
{
    xdotool({QStringLiteral("mousemove"), QString::number(place.center().x()),
             QString::number(place.center().y()), QStringLiteral("click"), QString::number(button)});
}

std::string Session::screenshot(const QString& name)
{
    const QString path = QDir::tempPath() + QStringLiteral("/tunalo-e2e-") + name + QStringLiteral(".png");
    QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path});
    return "screenshot: " + path.toStdString() + "\nrequests:\n" +
           requests().join(QLatin1Char('\n')).toStdString();
}

} // namespace tunalo::test
