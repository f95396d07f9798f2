#include "core/mainmodule.h"

#include "core/postqueue.h"
#include "core/protocoltext.h"
#include "core/settings.h"
#include "ui/aboutfrm.h"
#include "ui/helpfrm.h"
#include "ui/info.h"
#include "ui/interface.h"
#include "ui/optionsfrm.h"
#include "ui/smp.h"
#include "web/frmloadhome.h"
#include "web/frmweb.h"
#include "web/showhome.h"
#include "web/updatewb.h"

#include <QLineEdit>
#include <QRadioButton>

namespace tunalo {

namespace {

const QString kDefaultServiceBase = QStringLiteral("http://127.0.0.1:8631");

QString serviceBaseFromEnvironment()
{
    QString base = qEnvironmentVariable("TUNALO_SERVICE_URL").trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base.isEmpty() ? kDefaultServiceBase : base;
}

} // namespace

mainmodule::mainmodule(Platform& platform) : m_platform(platform), m_serviceBase(serviceBaseFromEnvironment())
{
}

mainmodule::~mainmodule()
{
    // A docked panel is a child of the main window's container, so every panel goes before the
    // main window. The browsers go before the loader: a browser that closes may still report a
    // change of title, and the loader listens for those. The post queue goes first, as it listens
    // to the post browser.
    m_posts.reset();
    std::get<std::unique_ptr<info>>(m_forms).reset();
    std::get<std::unique_ptr<aboutfrm>>(m_forms).reset();
    std::get<std::unique_ptr<helpfrm>>(m_forms).reset();
    std::get<std::unique_ptr<optionsfrm>>(m_forms).reset();
    std::get<std::unique_ptr<smp>>(m_forms).reset();
    std::get<std::unique_ptr<updatewb>>(m_forms).reset();
    std::get<std::unique_ptr<frmWeb>>(m_forms).reset();
    std::get<std::unique_ptr<frmloadhome>>(m_forms).reset();
    std::get<std::unique_ptr<interface>>(m_forms).reset();
}

QString mainmodule::homePageAddress() const
{
    return m_serviceBase + qtText(protocol::kHomePath);
}

PostQueue& mainmodule::posts()
{
    if (!m_posts)
        m_posts = std::make_unique<PostQueue>(*this);
    return *m_posts;
}

bool mainmodule::startup()
{
    if (!m_platform.lock->tryLock())
        return false;
    m_state.loginState = 0;
    form<interface>();
    form<frmWeb>().loadShownAndHidden();
    form<smp>().loadShownAndHidden();
    m_state.selectedPlayer = -1;
    loadstart();
    form<interface>().show();
    showhome(*this);
    return true;
}

void mainmodule::loadstart()
{
    m_state.currentSong.clear();
    loadsettings(true);
    form<smp>().mp[m_state.selectedPlayer]->setChecked(true);
    form<frmWeb>().wb().Navigate(homePageAddress());
}

void mainmodule::loadsettings(bool atstartup)
{
    // One read of the store; every value comes from that same moment.
    const SettingsSection stored =
        m_platform.settings->readSection(settings::kApplication, settings::kSection);
    const auto option = [&stored](const QString& key, std::int16_t fallback) {
        return settings::readNumber(stored.value(key, settings::numberText(fallback))).value_or(fallback);
    };
    m_state.autoPublish = option(settings::kAutoPublish, settings::kOptionDefault);
    m_state.autoDelete = option(settings::kAutoDelete, settings::kOptionDefault);
    m_state.autoAlert = option(settings::kAutoAlert, settings::kOptionDefault);
    m_state.screenWords = option(settings::kScreenWords, settings::kOptionDefault);
    form<optionsfrm>().Text1->setText(
        stored.value(settings::kScreenWordList, settings::kScreenWordListDefault));
    if (atstartup) {
        const std::int16_t player = option(settings::kLastPlayer, settings::kLastPlayerDefault);
        // Only a known player can be watched; anything else in the store means the default one.
        m_state.selectedPlayer =
            (player >= 0 && player < kPlayerCount) ? player : settings::kLastPlayerDefault;
    }
}

} // namespace tunalo
