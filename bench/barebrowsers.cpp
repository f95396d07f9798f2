// The floor under the program's memory: Qt WebEngine with the program's engine settings and
// nothing else. The home page shows in a window of the main window's size, the post page loads in a
// browser that is never shown, both on the one profile. `tunalo-programbench bare` measures it.
#include "core/protocoltext.h"
#include "adapters/webengine/webenginebrowsers.h"

#include <QApplication>
#include <QVBoxLayout>
#include <QWidget>


int main(int argc, char* argv[])
{
    tunalo::prepareWebEngineApplication();
    QApplication application(argc, argv);
    const QString service = qEnvironmentVariable("TUNALO_SERVICE_URL");

    tunalo::WebEngineBrowsers browsers;
    QWidget window;
    window.resize(700, 490);
    auto home = browsers.createBrowser(&window);
    (new QVBoxLayout(&window))->addWidget(home->widget());
    QWidget hidden;
    auto post = browsers.createBrowser(&hidden);

    window.show();
    home->Navigate(service + tunalo::qtText(tunalo::protocol::kHomePath));
    post->Navigate(service + tunalo::qtText(tunalo::protocol::kPostPath) + QStringLiteral("?s=Bare%20Artist%20-%20Song"));
    return QApplication::exec();
}
