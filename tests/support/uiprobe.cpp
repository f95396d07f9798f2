#include "support/uiprobe.h"

#include "ui/interface.h"
#include "web/updatewb.h"

#include <QUrl>
#include <QUrlQuery>
#include <QWidget>

namespace tunalo::test {

QWidget* frontPanel(mainmodule& app) {
    // Raising a child moves it to the end of its parent's list, which is the stacking order.
    const QObjectList& children = app.form<interface>().cp->children();
    for (auto it = children.crbegin(); it != children.crend(); ++it) {
        auto* widget = qobject_cast<QWidget*>(*it);
        if (widget != nullptr && !widget->isHidden())
            return widget;
    }
    return nullptr;
}

QStringList postedSongs(mainmodule& app) {
    auto& browser = dynamic_cast<FakeBrowser&>(app.form<updatewb>().wb());
    QStringList songs;
    for (const QString& address : browser.navigations) {
        const QUrl url(address);
        songs.append(QUrlQuery(url).queryItemValue(QStringLiteral("s"), QUrl::FullyDecoded));
    }
    return songs;
}

BalloonLog::BalloonLog(mainmodule& app) {
    m_connection = QObject::connect(&app.form<interface>(), &interface::balloonShown,
                                    [this](const QString& message) { messages.append(message); });
}

} // namespace tunalo::test

namespace tunalo::test {
BalloonLog::~BalloonLog() {
    QObject::disconnect(m_connection);
}
} // namespace tunalo::test
