// Photographs the main window with each panel docked, for the README:
//   build/bin/tunalo-screenshotstool docs
// Run it on a desktop with a private home (scripts/desktop.sh: use_private_home). A media player on
// the session bus (tunalo-mprisplayertool) shows the fifth choice enabled.
#include "app/mainmodule.h"
#include "platform/realplatform.h"
#include "ui/aboutfrm.h"
#include "ui/cpanel.h"
#include "ui/helpfrm.h"
#include "ui/interface.h"
#include "ui/optionsfrm.h"
#include "ui/smp.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QPixmap>

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
    if (argc != 2) {
        std::fprintf(stderr, "usage: tunalo-screenshotstool FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
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
        open();
        ok = photograph(window, folder, name) && ok;
    }
    return ok ? 0 : 1;
}
