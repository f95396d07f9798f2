#include "app/mainmodule.h"

#include "core/protocoltext.h"
#include "core/settings.h"
#include "ui/contraststyle.h"
#include "ui/cpanel.h"
#include "ui/darkpalette.h"
#include "ui/panel.h"

#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>

namespace tunalo {

namespace {

// The address TUNALO_SERVICE_URL gives, without a trailing slash; empty when it gives none.
QString serviceBaseFromEnvironment()
{
    QString base = qEnvironmentVariable("TUNALO_SERVICE_URL").trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base;
}

} // namespace

void preferDarkColours()
{
    if (isLight(QApplication::palette()))
        QApplication::setPalette(darkPalette());
}

mainmodule::mainmodule(Platform& platform)
    : m_platform(platform),
      m_cycle(PublishServices{*platform.settings, PlayerDesktop{*platform.windows, *platform.players},
                              *platform.clock, [this]() -> Browser& { return form<updatewb>().wb(); },
                              serviceBaseFromEnvironment()}),
      m_login(m_cycle.state(), *platform.clock)
{
    useContrastStyle();
    connectCore();
}

mainmodule::~mainmodule() = default;

void mainmodule::connectCore()
{
    QObject::connect(&m_cycle, &PublishCycle::message,
                     [this](const QString& heading, const QString& body) { showmessage(heading, body); });
    QObject::connect(&m_cycle, &PublishCycle::settingsLoaded,
                     [this] { form<optionsfrm>().Text1->setText(m_cycle.screenWordList()); });
    QObject::connect(&m_cycle, &PublishCycle::optionsWanted, [this] {
        showoptions();
        form<interface>().showNormal();
    });
    QObject::connect(&m_login, &LoginWatch::slowLoading, [this] { form<frmloadhome>().showNotice(); });
    QObject::connect(&m_login, &LoginWatch::loginKnown, [this] {
        form<frmloadhome>().hide();
        dock(form<frmWeb>());
        sleepHomeWhileHidden();
    });
}

// While the main window is off the screen nobody sees the home page, so once the page has told the
// log-in state it sleeps, and the state stays what it said (or what a post's answer said since).
void mainmodule::sleepHomeWhileHidden()
{
    if (!isLoaded<frmWeb>() || form<interface>().isVisible() || !isKnown(state().loginState))
        return;
    Browser& home = form<frmWeb>().wb();
    if (!home.isAsleep())
        home.sleep(serviceBase());
}

// Back on the screen, the home page is loaded again. Until it has come the log-in state stays as
// it was, so a song that changes meanwhile is posted as before.
void mainmodule::wakeHome()
{
    if (!isLoaded<frmWeb>())
        return;
    Browser& home = form<frmWeb>().wb();
    if (!home.isAsleep())
        return;
    home.wake();
    home.Navigate(homePageAddress());
}

void mainmodule::create(std::unique_ptr<interface>& slot)
{
    slot = std::make_unique<interface>(m_cycle, *m_platform.shell, *m_platform.clock);
    interface* window = slot.get();
    QObject::connect(window, &interface::homeWanted, [this] { showhome(); });
    QObject::connect(window, &interface::playerPanelWanted, [this] { showplayerpanel(); });
    QObject::connect(window, &interface::optionsWanted, [this] { showoptions(); });
    QObject::connect(window, &interface::aboutWanted, [this] { dock(form<aboutfrm>()); });
    QObject::connect(window, &interface::instructionsWanted, [this] { dock(form<helpfrm>()); });
    if (const std::optional<QPoint> place = settings::readPlace(
            m_platform.settings->read(settings::kApplication, settings::kSection, settings::kWindowPlace, QString())))
        window->setPlace(*place);
    QObject::connect(window, &interface::exitChosen, [this] {
        m_cycle.saveSelectedPlayer();
        saveWindowPlace();
    });
    QObject::connect(window, &interface::shownChanged, [this](bool shown) {
        if (shown) {
            wakeHome();
        } else {
            saveWindowPlace();
            sleepHomeWhileHidden();
        }
    });
}

// The window comes back where the person left it, in this run and the next.
void mainmodule::saveWindowPlace()
{
    const std::optional<QPoint> place = form<interface>().place();
    if (!place)
        return;
    const QString text = settings::placeText(*place);
    if (m_platform.settings->read(settings::kApplication, settings::kSection, settings::kWindowPlace, QString()) != text)
        m_platform.settings->save(settings::kApplication, settings::kSection, settings::kWindowPlace, text);
}

void mainmodule::create(std::unique_ptr<frmloadhome>& slot)
{
    slot = std::make_unique<frmloadhome>();
    // The post browser comes into being with the loader, so its engine starts while the home page
    // loads rather than at the first post.
    form<updatewb>();
}

void mainmodule::create(std::unique_ptr<frmWeb>& slot)
{
    slot = std::make_unique<frmWeb>(*m_platform.browsers, form<interface>().cp);
    // The log-in state follows the home page's title; the post page's title is the post queue's.
    Browser& home = slot->wb();
    home.setTitleListener([this, &home] { m_login.homeTitleChanged(home.LocationName()); });
    // Where the home page cannot be reached the loading notice says which address and why.
    home.setLoadListener([this](const LoadResult& result) {
        const bool unreached = result.outcome == LoadResult::Outcome::NotReached;
        form<frmloadhome>().setUnreached(unreached ? serviceBase() : QString(), result.reason);
    });
}

void mainmodule::create(std::unique_ptr<updatewb>& slot)
{
    slot = std::make_unique<updatewb>(*m_platform.browsers);
}

void mainmodule::create(std::unique_ptr<smp>& slot)
{
    slot = std::make_unique<smp>(m_cycle.state(), m_cycle.desktop(), *m_platform.shellOpen, *m_platform.settings,
                                 [this](const ChangeResult& refused) {
                                     m_cycle.tellRefused(QStringLiteral("Your Choice Of Players Could Not Be Saved"),
                                                         refused);
                                 });
}

void mainmodule::create(std::unique_ptr<optionsfrm>& slot)
{
    slot = std::make_unique<optionsfrm>(m_cycle, *m_platform.settings, *m_platform.autostart);
    slot->showServiceAddress(serviceBase(), m_cycle.serviceBaseFixed());
    QObject::connect(slot.get(), &optionsfrm::serviceAddressChanged, [this](const QString& base) {
        if (base == serviceBase())
            return;
        // The log-in belongs to the service it was made with: the home page of the new one says
        // anew whether the user is logged in there.
        m_cycle.setServiceBase(base);
        m_login.forget();
        form<frmWeb>().wb().Navigate(homePageAddress());
    });
}

void mainmodule::create(std::unique_ptr<helpfrm>& slot)
{
    slot = std::make_unique<helpfrm>(*m_platform.shellOpen);
}

void mainmodule::create(std::unique_ptr<aboutfrm>& slot)
{
    slot = std::make_unique<aboutfrm>();
}

void mainmodule::create(std::unique_ptr<info>& slot)
{
    slot = std::make_unique<info>();
}

QString mainmodule::homePageAddress() const
{
    return serviceBase() + qtText(protocol::kHomePath);
}

bool mainmodule::startup(StartShown shown)
{
    if (!m_platform.lock->tryLock())
        return false;
    state().loginState = LoginState::NoneYet;
    // The players on the session bus are known by the time the user looks for them.
    m_platform.players->watch();
    m_platform.players->choosePlayers(m_platform.settings->read(settings::kApplication, settings::kSection,
                                                                settings::kMprisPlayers, QString()));
    form<interface>();
    form<frmWeb>().loadShownAndHidden();
    form<smp>().loadShownAndHidden();
    state().selectedPlayer = -1;
    loadstart();
    if (shown == StartShown::Window)
        form<interface>().show();
    showhome();
    m_platform.lock->onShowAsked([this] { form<interface>().showInFront(); });
    return true;
}

void mainmodule::loadstart()
{
    state().currentSong.clear();
    loadsettings(true);
    form<smp>().mp[static_cast<std::size_t>(state().selectedPlayer)]->setChecked(true);
    form<frmWeb>().wb().Navigate(homePageAddress());
}

void mainmodule::end()
{
    form<interface>().endProgram();
}

void mainmodule::dock(QWidget& panel)
{
    homeBehind(panel);
    dockpanel(*form<interface>().cp, panel);
}

// The home page may be drawn by a browser engine of its own, into a window that lies above the
// panels the program draws whatever their order; so it leaves the screen while another is in front.
void mainmodule::homeBehind(const QWidget& panel)
{
    if (isLoaded<frmWeb>() && &panel != &form<frmWeb>())
        form<frmWeb>().hide();
}

void mainmodule::showhome()
{
    m_login.forget();
    Browser& home = form<frmWeb>().wb();
    home.Navigate(serviceBase() + qtText(protocol::kRootPath));
    frmloadhome& loader = form<frmloadhome>();
    loader.resset();
    m_login.resset();
    dock(loader);
    home.Navigate(homePageAddress());
}

void mainmodule::showplayerpanel()
{
    interface& window = form<interface>();
    dock(form<smp>());
    window.activateWindow();
    window.setFocus();
}

void mainmodule::showoptions()
{
    optionsfrm& options = form<optionsfrm>();
    options.updateoptions();
    dock(options);
}

void mainmodule::showmessage(const QString& heading, const QString& body)
{
    homeBehind(form<info>());
    tunalo::showmessage(form<info>(), *form<interface>().cp, heading, body);
}

} // namespace tunalo
