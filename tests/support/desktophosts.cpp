#include "support/desktophosts.h"

#include "support/process.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cstdlib>

namespace tunalo::test {

namespace {

// One panel along the bottom of an 800x600 screen holding only the notification area.
constexpr const char* kPanelConfiguration = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=8;x=400;y=584"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
)";

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

// Xfce's settings daemon, in the library folder of the machine's architecture.
QString settingsDaemon()
{
    for (const QFileInfo& folder : QDir(QStringLiteral("/usr/lib")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString daemon = folder.filePath() + QStringLiteral("/xfce4/xfconf/xfconfd");
        if (QFile::exists(daemon))
            return daemon;
    }
    return QStringLiteral("xfconfd");
}

bool nameHasOwner(const QString& name)
{
    return gdbus({QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                  QStringLiteral("org.freedesktop.DBus"), QStringLiteral("--object-path"),
                  QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("--method"),
                  QStringLiteral("org.freedesktop.DBus.NameHasOwner"), name})
        .contains(QLatin1String("true"));
}

QString property(const QString& service, const QString& path, const QString& interface, const QString& name)
{
    return gdbus({QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"), service,
                  QStringLiteral("--object-path"), path, QStringLiteral("--method"),
                  QStringLiteral("org.freedesktop.DBus.Properties.Get"), interface, name});
}

// An item as the watcher names it: its bus name, and its object path when not the usual one.
std::pair<QString, QString> splitItem(const QString& item)
{
    const qsizetype slash = item.indexOf(QLatin1Char('/'));
    if (slash < 0)
        return {item, QStringLiteral("/StatusNotifierItem")};
    return {item.left(slash), item.mid(slash)};
}

QStringList quotedTexts(const QString& text)
{
    QStringList texts;
    static const QRegularExpression quoted(QStringLiteral("'([^']*)'"));
    for (const QRegularExpressionMatch& match : quoted.globalMatch(text))
        texts.append(match.captured(1));
    return texts;
}

} // namespace

BareDisplay::BareDisplay()
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
        return QProcess::execute(QStringLiteral("sh"),
                                 {QStringLiteral("-c"),
                                  QStringLiteral("DISPLAY=%1 xdpyinfo >/dev/null 2>&1").arg(m_display)}) == 0;
    });
}

BareDisplay::~BareDisplay()
{
    // Last started, first ended: the X server goes after its clients.
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it)
        stop(**it);
}

QProcess& BareDisplay::start(const QString& program, const QStringList& arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(m_environment);
    process->start(program, arguments);
    m_processes.push_back(std::move(process));
    return *m_processes.back();
}

void BareDisplay::stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QString BareDisplay::screenshot(const QString& name) const
{
    const QString file = QDir::tempPath() + QStringLiteral("/tunalo-%1.png").arg(name);
    QProcess::execute(QStringLiteral("import"),
                      {QStringLiteral("-display"), m_display, QStringLiteral("-window"), QStringLiteral("root"), file});
    return file;
}

QImage BareDisplay::grab() const
{
    QProcess import;
    import.start(QStringLiteral("import"), {QStringLiteral("-display"), m_display, QStringLiteral("-window"),
                                            QStringLiteral("root"), QStringLiteral("png:-")});
    import.waitForFinished(10000);
    return QImage::fromData(import.readAllStandardOutput(), "PNG");
}

bool showsColour(const QImage& picture, const QRect& part, QColor colour)
{
    const QRect area = part.intersected(picture.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = picture.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green()) +
                    std::abs(pixel.blue() - colour.blue()) < 24)
                return true;
        }
    return false;
}

XfcePanel::XfcePanel(BareDisplay& display) : m_display(display) {}

XfcePanel::~XfcePanel()
{
    for (QProcess* process : {m_panel, m_settings})
        if (process)
            BareDisplay::stop(*process);
}

bool XfcePanel::start()
{
    const QString folder = m_config.path() + QStringLiteral("/xfce4/xfconf/xfce-perchannel-xml");
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/xfce4-panel.xml"));
    if (!file.open(QIODevice::WriteOnly) || file.write(kPanelConfiguration) < 0)
        return false;
    file.close();
    m_display.setEnvironment(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
    m_display.setEnvironment(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    // The bus of the tests starts nothing on demand, the settings daemon included.
    if (!nameHasOwner(QStringLiteral("org.xfce.Xfconf")))
        m_settings = &m_display.start(settingsDaemon(), {});
    m_panel = &m_display.start(QStringLiteral("xfce4-panel"), {QStringLiteral("--disable-wm-check")});
    return waitUntil([] {
        return property(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                        QStringLiteral("IsStatusNotifierHostRegistered"))
            .contains(QLatin1String("true"));
    });
}

bool XfcePanel::stop()
{
    if (m_panel)
        BareDisplay::stop(*m_panel);
    return waitUntil([] { return !nameHasOwner(kWatcher); });
}

HeadlessSway::HeadlessSway()
{
    const QString dir = m_dir.path();
    QDir().mkpath(dir + QStringLiteral("/run"));
    QFile::setPermissions(dir + QStringLiteral("/run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // sway runs the bar's command as one program name, so waybar finds its settings in its folder.
    QDir().mkpath(dir + QStringLiteral("/waybar"));
    QFile waybar(dir + QStringLiteral("/waybar/config"));
    QFile config(dir + QStringLiteral("/config"));
    if (!waybar.open(QIODevice::WriteOnly) || !config.open(QIODevice::WriteOnly))
        return;
    waybar.write(R"({"position": "bottom", "height": 30, "modules-right": ["tray"], "tray": {"icon-size": 21}})");
    waybar.close();
    config.write(QStringLiteral("output HEADLESS-1 resolution 1024x700\n"
                                "xwayland enable\n"
                                "bar {\n    swaybar_command waybar\n}\n"
                                "exec mako\n"
                                "exec sh -c 'echo $DISPLAY > %1/display'\n")
                     .arg(dir)
                     .toUtf8());
    config.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir + QStringLiteral("/run"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir); // mako's and waybar's own settings
    environment.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    environment.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    environment.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    m_sway.setProcessEnvironment(environment);
    m_sway.start(QStringLiteral("unshare"), {QStringLiteral("--user"), QStringLiteral("--map-user=1000"),
                                             QStringLiteral("--map-group=1000"), QStringLiteral("sway"),
                                             QStringLiteral("-c"), dir + QStringLiteral("/config")});
    QFile display(dir + QStringLiteral("/display"));
    m_ready = waitUntil([&] {
        if (m_xDisplay.isEmpty() && display.open(QIODevice::ReadOnly)) {
            m_xDisplay = QString::fromUtf8(display.readAll()).trimmed();
            display.close();
        }
        return !m_xDisplay.isEmpty() && nameHasOwner(QStringLiteral("org.freedesktop.Notifications")) &&
               property(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                        QStringLiteral("IsStatusNotifierHostRegistered"))
                   .contains(QLatin1String("true"));
    });
}

HeadlessSway::~HeadlessSway()
{
    // Its bar, mako and XWayland end with the compositor they are clients of.
    BareDisplay::stop(m_sway);
    waitUntil([] { return !nameHasOwner(QStringLiteral("org.freedesktop.Notifications")) && !nameHasOwner(kWatcher); },
              5000);
}

QImage HeadlessSway::grab() const
{
    QProcess grim;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), m_dir.path() + QStringLiteral("/run/wayland-1"));
    grim.setProcessEnvironment(environment);
    grim.start(QStringLiteral("grim"), {QStringLiteral("-")});
    grim.waitForFinished(10000);
    return QImage::fromData(grim.readAllStandardOutput(), "PNG");
}

QString runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return process.exitCode() == 0 ? QString::fromUtf8(process.readAllStandardOutput()) : QString();
}

QStringList statusNotifierItems()
{
    return quotedTexts(property(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                                QStringLiteral("RegisteredStatusNotifierItems")));
}

std::vector<DBusMenuEntry> statusNotifierMenu(const QString& item)
{
    const auto [service, path] = splitItem(item);
    const QStringList menu = quotedTexts(
        property(service, path, QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu")));
    if (menu.isEmpty())
        return {};
    const QString layout =
        gdbus({QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"), service,
               QStringLiteral("--object-path"), menu.front(), QStringLiteral("--method"),
               QStringLiteral("com.canonical.dbusmenu.GetLayout"), QStringLiteral("--"), QStringLiteral("0"),
               QStringLiteral("-1"),
               QStringLiteral("[]")});
    // The root's children: <(id, {properties}, @av [])>.
    std::vector<DBusMenuEntry> entries;
    static const QRegularExpression child(QStringLiteral(R"(<\((\d+), \{([^}]*)\})"));
    static const QRegularExpression label(QStringLiteral(R"('label': <'((?:[^'\\]|\\.)*)'>)"));
    for (const QRegularExpressionMatch& match : child.globalMatch(layout)) {
        const QString properties = match.captured(2);
        const bool separator = properties.contains(QLatin1String("'type': <'separator'>"));
        QString text = label.match(properties).captured(1);
        text.replace(QLatin1String("\\\\"), QLatin1String("\\"));
        entries.push_back({match.captured(1).toInt(), separator ? QStringLiteral("-") : text,
                           !properties.contains(QLatin1String("'enabled': <false>"))});
    }
    return entries;
}

bool clickStatusNotifierMenu(const QString& item, int id)
{
    const auto [service, path] = splitItem(item);
    const QStringList menu = quotedTexts(
        property(service, path, QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu")));
    if (menu.isEmpty())
        return false;
    // A host's click: the entry, the event, its data and the time of the click.
    return !gdbus({QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"), service,
                   QStringLiteral("--object-path"), menu.front(), QStringLiteral("--method"),
                   QStringLiteral("com.canonical.dbusmenu.Event"), QString::number(id),
                   QStringLiteral("clicked"), QStringLiteral("<0>"), QStringLiteral("0")})
                .isNull();
}

bool callStatusNotifierItem(const QString& item, const QString& method, const QStringList& arguments)
{
    const auto [service, path] = splitItem(item);
    return !gdbus(QStringList{QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                              service, QStringLiteral("--object-path"), path, QStringLiteral("--method"),
                              QStringLiteral("org.kde.StatusNotifierItem.") + method} +
                  arguments)
                .isNull();
}

} // namespace tunalo::test
