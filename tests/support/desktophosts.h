#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace tunalo::test {

// An X server of the test's own, with nothing on it until the test starts programs there. They
// meet the rest of the test on the session bus the test runs on.
class BareDisplay {
public:
    BareDisplay();
    ~BareDisplay();
    bool ready() const { return m_ready; }
    QString display() const { return m_display; }
    // Set for the programs started after.
    void setEnvironment(const QString& key, const QString& value) { m_environment.insert(key, value); }

    QProcess& start(const QString& program, const QStringList& arguments);
    // Ends a program started here and waits until it has gone.
    static void stop(QProcess& process);
    // A picture of the whole screen, for a person to look at; says where it went.
    QString screenshot(const QString& name) const;
    // The screen as it is now.
    QImage grab() const;

private:
    QString m_display;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> m_processes;
    bool m_ready = false;
};

// Xfce's panel with only its notification area, a StatusNotifier host (and an XEmbed area) at the
// bottom of the display, started with its settings daemon and a configuration of its own.
class XfcePanel {
public:
    explicit XfcePanel(BareDisplay& display);
    // The panel and its settings daemon end before their settings folder goes.
    ~XfcePanel();
    // Starts the panel; true once its StatusNotifier host has registered on the bus.
    bool start();
    // Ends the panel and its plugins' processes; true once the watcher has left the bus.
    bool stop();

private:
    BareDisplay& m_display;
    QTemporaryDir m_config;
    QProcess* m_panel = nullptr;
    QProcess* m_settings = nullptr;
};

// A Wayland session: sway on its headless back end with waybar's notification area (a
// StatusNotifier host) along the bottom, mako as the notification server and XWayland for X
// programs such as Tunalo, all on the test's session bus. sway refuses to run as root, so it runs
// as an ordinary user of a user namespace of its own.
class HeadlessSway {
public:
    HeadlessSway();
    ~HeadlessSway();
    // Up with its bar's host and mako registered on the bus.
    bool ready() const { return m_ready; }
    // The X display of its XWayland.
    QString xDisplay() const { return m_xDisplay; }
    // The screen as it is now.
    QImage grab() const;

private:
    QTemporaryDir m_dir;
    QProcess m_sway;
    QString m_xDisplay;
    bool m_ready = false;
};

// Whether a part of a picture holds a pixel of about this colour.
bool showsColour(const QImage& picture, const QRect& part, QColor colour);

// What a program prints, run to its end while the test's event loop turns (it may ask the test's
// own process); a null string when it failed.
QString runTool(const QString& program, const QStringList& arguments);

// What the session bus says, asked with gdbus.
inline QString gdbus(const QStringList& arguments)
{
    return runTool(QStringLiteral("gdbus"), arguments);
}

// The items registered with the StatusNotifier watcher, as "bus name/object path".
QStringList statusNotifierItems();

// One entry of an item's menu as the host reads it over com.canonical.dbusmenu.
struct DBusMenuEntry {
    int id;
    QString label; // "-" for a separator
    bool enabled;
};
// The item's menu: its Menu property read and the layout under the root asked for.
std::vector<DBusMenuEntry> statusNotifierMenu(const QString& item);
// Sends the host's "clicked" event for the menu entry with this id.
bool clickStatusNotifierMenu(const QString& item, int id);
// Calls a method of the item without result, such as Activate(x, y).
bool callStatusNotifierItem(const QString& item, const QString& method, const QStringList& arguments);

} // namespace tunalo::test
