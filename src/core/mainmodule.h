#pragma once

#include "core/appstate.h"
#include "platform/platform.h"

#include <QString>

#include <memory>
#include <tuple>

namespace tunalo {

class interface;
class frmWeb;
class updatewb;
class frmloadhome;
class smp;
class optionsfrm;
class info;
class helpfrm;
class aboutfrm;
class PostQueue;

// The core module: it owns the shared state and the forms, and holds the procedures that tie
// them together. Forms come into being on first use and live as long as the module.
class mainmodule {
public:
    explicit mainmodule(Platform& platform);
    ~mainmodule();
    mainmodule(const mainmodule&) = delete;
    mainmodule& operator=(const mainmodule&) = delete;

    AppState& state() { return m_state; }
    Platform& platform() { return m_platform; }

    // The form, created on first use.
    template <class Form> Form& form()
    {
        auto& slot = std::get<std::unique_ptr<Form>>(m_forms);
        if (!slot)
            slot = std::make_unique<Form>(*this);
        return *slot;
    }
    template <class Form> bool isLoaded() const
    {
        return std::get<std::unique_ptr<Form>>(m_forms) != nullptr;
    }

    // Scheme, host and port of the service, without a trailing slash.
    const QString& serviceBase() const { return m_serviceBase; }
    QString homePageAddress() const;

    // Start-up. False when another instance of the program already runs: then nothing was
    // created and the program should end at once.
    bool startup();
    void loadstart();
    void loadsettings(bool atstartup);

    // The publish cycle.
    void checkpublish();
    void postsong();
    std::int16_t hasscreenword(const QString& song);
    // Switches publishing off with the message that asks the user to log in first.
    void refuseNotLoggedIn(const QString& song);
    // The posts on their way, created with the first.
    PostQueue& posts();

    void showplayerpanel();

private:
    Platform& m_platform;
    AppState m_state;
    QString m_serviceBase;
    std::unique_ptr<PostQueue> m_posts;
    std::tuple<std::unique_ptr<frmloadhome>, std::unique_ptr<frmWeb>, std::unique_ptr<updatewb>,
               std::unique_ptr<smp>, std::unique_ptr<optionsfrm>, std::unique_ptr<info>,
               std::unique_ptr<helpfrm>, std::unique_ptr<aboutfrm>, std::unique_ptr<interface>>
        m_forms;
};

} // namespace tunalo
