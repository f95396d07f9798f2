#include "core/loginwatch.h"

#include "core/protocoltext.h"

namespace tunalo {

LoginWatch::LoginWatch(AppState& state, Clock& clock)
    : checkConstantly(clock.makeTimer([this] { checkConstantly_Timer(); })),
      notifyDelay(clock.makeTimer([this] { notifyDelay_Timer(); })),
      Timer1(clock.makeTimer([this] { Timer1_Timer(); })), m_state(state)
{
    checkConstantly->start(kReadTitleMs);
    notifyDelay->start(kSlowPageMs);
    Timer1->startRepeating(kHandOverMs);
}

void LoginWatch::homeTitleChanged(const QString& title)
{
    // The title is read shortly after any change rather than polled: the state follows it just the
    // same, and an idle program does not wake a hundred times a second.
    m_homeTitle = title;
    checkConstantly->start(kReadTitleMs);
}

void LoginWatch::forget()
{
    m_state.loginState = LoginState::NoneYet;
}

void LoginWatch::resset()
{
    Timer1->startRepeating(kHandOverMs);
    // Started again, the notice's count begins anew: it comes ten seconds after the latest Home.
    notifyDelay->start(kSlowPageMs);
    checkConstantly->start(kReadTitleMs);
}

void LoginWatch::checkConstantly_Timer()
{
    if (m_homeTitle == qtText(protocol::kLoggedInTitle))
        m_state.loginState = LoginState::LoggedIn;
    if (m_homeTitle == qtText(protocol::kFailedTitle))
        m_state.loginState = LoginState::Failed;
}

void LoginWatch::notifyDelay_Timer()
{
    notifyDelay->stop();
    emit slowLoading();
}

void LoginWatch::Timer1_Timer()
{
    if (!isKnown(m_state.loginState))
        return;
    Timer1->stop();
    emit loginKnown();
}

} // namespace tunalo
