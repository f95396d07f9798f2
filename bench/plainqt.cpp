// The floor under the program's own start, CPU and memory: a Qt program with nothing but what any
// tray program has. It ticks every 100 ms as the program's player timer does, and does nothing on
// the tick.
//   tunalo-bench-plain           a window of the main window's size, shown at once
//   tunalo-bench-plain --tray    an icon in the notification area and no window, as the program
//                                waits closed to the tray
// `tunalo-programbench` starts it beside the program.
#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <cstring>

namespace {

QIcon drawnIcon()
{
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setBrush(Qt::darkBlue);
    painter.drawEllipse(2, 2, 28, 28);
    return QIcon(picture);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QTimer tick;
    int ticks = 0;
    QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
    tick.start(100);

    const bool tray = argc > 1 && std::strcmp(argv[1], "--tray") == 0;
    QWidget window;
    QSystemTrayIcon icon(drawnIcon());
    if (tray) {
        icon.setToolTip(QStringLiteral("Plain"));
        icon.show();
    } else {
        window.setWindowTitle(QStringLiteral("PLAIN"));
        window.setFixedSize(698, 472); // the program's main window at the design's font
        window.show();
    }
    return QApplication::exec();
}
