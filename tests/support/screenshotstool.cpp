// Photographs the main window with each panel docked, for the README:
//   build/bin/tunalo-screenshotstool [--dark] [--points N] FOLDER [PANEL...]
// Run it on a desktop with a private home (scripts/desktop.sh: use_private_home). A media player on
// the session bus (tunalo-mprisplayertool) shows the fifth choice enabled. --dark starts the program
// under a dark theme and --points under a desktop font of N points; their pictures' names end in
// "-dark" and "-Npt". Named panels ("options-panel") are the only ones taken.
#include "app/mainmodule.h"
#include "adapters/realplatform.h"
#include "ui/aboutfrm.h"
#include "ui/cpanel.h"
#include "ui/helpfrm.h"
#include "ui/interface.h"
#include "ui/optionsfrm.h"
#include "ui/smp.h"

#include "ui/darkpalette.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QRadioButton>
#include <QStringList>
#include <QStyleFactory>

#include <cstdio>
#include <functional>

namespace {

bool photograph(tunalo::interface& window, const QDir& folder, const QString& name)
{
    QApplication::processEvents();
    const bool saved = window.grab().save(folder.filePath(name + QStringLiteral(".png")), "PNG");
    if (!saved)
        std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
    return saved;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QStringList arguments = QApplication::arguments().mid(1);
    QString suffix;
    if (arguments.value(0) == QStringLiteral("--dark")) {
        arguments.removeFirst();
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(tunalo::darkPalette());
        suffix += QStringLiteral("-dark");
    }
    if (arguments.value(0) == QStringLiteral("--points") && arguments.value(1).toInt() > 0) {
        QFont font = QApplication::font();
        font.setPointSize(arguments.value(1).toInt());
        QApplication::setFont(font);
        suffix += QStringLiteral("-%1pt").arg(font.pointSize());
        arguments = arguments.mid(2);
    }
    if (arguments.isEmpty() || arguments.first().startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "usage: tunalo-screenshotstool [--dark] [--points N] FOLDER [PANEL...]\n");
        return 2;
    }
    const QDir folder(arguments.takeFirst());
    const auto platform = tunalo::makeRealPlatform();
    tunalo::mainmodule app(*platform);
    if (!app.startup())
        return 1;
    tunalo::interface& window = app.form<tunalo::interface>();
    window.sts->setText(QStringLiteral("The Example Band - First Light - MediaMonkey"));
    // The players on the session bus answer within a moment of start-up.
    const QDeadlineTimer busDeadline(2000);
    while (!platform->players->anyPlayer() && !busDeadline.hasExpired())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    const std::vector<std::pair<QString, std::function<void()>>> shots = {
        {QStringLiteral("player-panel"), [&] { window.Command3_Click(); }},
        // The players on the bus with their ticks, once the fifth choice is taken.
        {QStringLiteral("player-panel-mpris"),
         [&] {
             window.Command3_Click();
             tunalo::smp& panel = app.form<tunalo::smp>();
             panel.mp.back()->setChecked(true); // the last choice is the bus
         }},
        {QStringLiteral("options-panel"), [&] { window.Command4_Click(); }},
        {QStringLiteral("instructions-panel"), [&] { window.Command6_Click(); }},
        {QStringLiteral("about-panel"), [&] { window.Command5_Click(); }},
        {QStringLiteral("message-panel"),
         [&] {
             app.showmessage(
                 QStringLiteral("Please Select A Media Player"),
                 QStringLiteral("In order to be able to post the song you are currently playing on "
                                "facebook, you must first select a media player from the 'Select "
                                "Media Player' Panel"));
         }},
    };
    bool ok = true;
    for (const auto& [name, open] : shots) {
        if (!arguments.isEmpty() && !arguments.contains(name))
            continue;
        open();
        ok = photograph(window, folder, name + suffix) && ok;
    }
    return ok ? 0 : 1;
}
