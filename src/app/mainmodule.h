#pragma once

#include "core/loginwatch.h"
#include "core/publishcycle.h"
#include "platform/platform.h"
#include "ui/aboutfrm.h"
#include "ui/helpfrm.h"
#include "ui/info.h"
#include "ui/interface.h"
#include "ui/optionsfrm.h"
#include "ui/smp.h"
#include "web/frmloadhome.h"
#include "web/frmweb.h"
#include "web/updatewb.h"

#include <QString>

#include <memory>
#include <type_traits>

namespace tunalo {

// How a start shows itself: with its main window, or, when the desktop starts it at log-in, only
// as its icon in the notification area.
enum class StartShown { Window, InTray };

// The desktop prefers dark colours (its portal says so) where Qt's theme may give light ones, as
// under GNOME's dark style: the forms take the dark colours they have for a dark theme.
void preferDarkColours();

// The composition root: it takes the platform, builds the core (the publish cycle and the log-in
// watch), the forms and the browsers, and connects them. Forms come into being on first use and
// live as long as the module. Its members are torn down in the reverse of their order here, which
// is the order they need: every form that holds the core, or a browser that reports to the log-in
// watch, goes before the core; every docked panel before the main window that holds its container;
// the core, with the post queue that listens to the post browser, before the post browser.
class mainmodule {
public:
    explicit mainmodule(Platform& platform);
    ~mainmodule();
    mainmodule(const mainmodule&) = delete;
    mainmodule& operator=(const mainmodule&) = delete;

    AppState& state() { return m_cycle.state(); }
    Platform& platform() { return m_platform; }
    PublishCycle& cycle() { return m_cycle; }
    LoginWatch& login() { return m_login; }

    // The form, created on first use.
    template <class Form> Form& form()
    {
        std::unique_ptr<Form>& slot = formSlot(std::type_identity<Form>());
        if (!slot)
            create(slot);
        return *slot;
    }
    template <class Form> bool isLoaded() { return formSlot(std::type_identity<Form>()) != nullptr; }

    // Scheme, host and port of the service, without a trailing slash.
    const QString& serviceBase() const { return m_cycle.serviceBase(); }
    QString homePageAddress() const;

    // Start-up. False when another instance of the program already runs: then nothing was
    // created and the program should end at once. Once started, a later start's request shows
    // the main window.
    bool startup(StartShown shown = StartShown::Window);
    void loadstart();
    // Ends the program as "&Exit" does, for the other ways to end it: a signal from the system or
    // the session's end.
    void end();
    void loadsettings(bool atstartup) { m_cycle.loadsettings(atstartup); }

    // Home: forgets the log-in state, shows the loader and loads the service's home page again.
    void showhome();
    void showplayerpanel();
    void showoptions();
    void showmessage(const QString& heading, const QString& body);

private:
    std::unique_ptr<interface>& formSlot(std::type_identity<interface>) { return m_interface; }
    std::unique_ptr<frmloadhome>& formSlot(std::type_identity<frmloadhome>) { return m_frmloadhome; }
    std::unique_ptr<frmWeb>& formSlot(std::type_identity<frmWeb>) { return m_frmWeb; }
    std::unique_ptr<updatewb>& formSlot(std::type_identity<updatewb>) { return m_updatewb; }
    std::unique_ptr<smp>& formSlot(std::type_identity<smp>) { return m_smp; }
    std::unique_ptr<optionsfrm>& formSlot(std::type_identity<optionsfrm>) { return m_optionsfrm; }
    std::unique_ptr<helpfrm>& formSlot(std::type_identity<helpfrm>) { return m_helpfrm; }
    std::unique_ptr<aboutfrm>& formSlot(std::type_identity<aboutfrm>) { return m_aboutfrm; }
    std::unique_ptr<info>& formSlot(std::type_identity<info>) { return m_info; }

    void create(std::unique_ptr<interface>& slot);
    void create(std::unique_ptr<frmloadhome>& slot);
    void create(std::unique_ptr<frmWeb>& slot);
    void create(std::unique_ptr<updatewb>& slot);
    void create(std::unique_ptr<smp>& slot);
    void create(std::unique_ptr<optionsfrm>& slot);
    void create(std::unique_ptr<helpfrm>& slot);
    void create(std::unique_ptr<aboutfrm>& slot);
    void create(std::unique_ptr<info>& slot);

    void dock(QWidget& panel);
    void homeBehind(const QWidget& panel);
    void connectCore();
    void sleepHomeWhileHidden();
    void saveWindowPlace();
    void wakeHome();

    Platform& m_platform;
    std::unique_ptr<updatewb> m_updatewb;
    PublishCycle m_cycle;
    LoginWatch m_login;
    std::unique_ptr<interface> m_interface;
    std::unique_ptr<frmloadhome> m_frmloadhome;
    std::unique_ptr<frmWeb> m_frmWeb;
    std::unique_ptr<smp> m_smp;
    std::unique_ptr<optionsfrm> m_optionsfrm;
    std::unique_ptr<helpfrm> m_helpfrm;
    std::unique_ptr<aboutfrm> m_aboutfrm;
    std::unique_ptr<info> m_info;
};

} // namespace tunalo
