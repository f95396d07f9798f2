#include "support/uiprobe.h"

#include "ui/interface.h"
#include "web/updatewb.h"

#include <QUrl>
#include <QUrlQuery>
#include <QWidget>

namespace tunalo::test {

QWidget* frontPanel(mainmodule& app)
{
    // Raising a child moves it to the end of its parent's list, which is the stacking order.
    const QObjectList& children = app.form<interface>().cp->children();
    for (auto it = children.crbegin(); it != children.crend(); ++it) {
        auto* widget = qobject_cast<QWidget*>(*it);
        if (widget != nullptr && !widget->isHidden())
            return widget;
    }
    return nullptr;
}

QStringList postedSongs(mainmodule& app)
{
    auto& browser = dynamic_cast<FakeBrowser&>(app.form<updatewb>().wb());
    QStringList songs;
    for (const QString& address : browser.navigations) {
        const QUrl url(address);
        songs.append(QUrlQuery(url).queryItemValue(QStringLiteral("s"), QUrl::FullyDecoded));
    }
    return songs;
}

void answerEveryPost(mainmodule& app)
{
    auto& post = dynamic_cast<FakeBrowser&>(app.form<updatewb>().wb());
    post.onNavigate = [&post, posts = 0](const QString&) mutable {
        post.finishLoading(QStringLiteral("Posted ID:%1").arg(++posts));
    };
}

QStringList BalloonLog::messages() const
{
    QStringList shown;
    for (std::size_t i = m_from; i < m_shell.calls.size(); ++i) {
        const FakeNotifyShell::Call& call = m_shell.calls[i];
        if (call.wide && (call.recordW.uFlags & NIF_INFO))
            shown << QString::fromUtf16(call.recordW.szInfo);
        if (!call.wide && (call.recordA.uFlags & NIF_INFO))
            shown << QString::fromLocal8Bit(call.recordA.szInfo);
    }
    return shown;
}

} // namespace tunalo::test
