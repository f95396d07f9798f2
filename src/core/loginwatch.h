#pragma once

#include "core/appstate.h"
#include "platform/clock.h"

#include <QObject>
#include <QString>

#include <memory>

namespace tunalo {

// Turns the home page's title into the log-in state, and tells when the page can be shown (the
// state is known) and when it is slow to come. The composition root feeds it the home browser's
// titles.
class LoginWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kReadTitleMs = 10;   // a changed title is read this soon
    static constexpr int kHandOverMs = 200;   // how often it looks whether the state is known
    static constexpr int kSlowPageMs = 10000; // after this long without the page, a notice

    LoginWatch(AppState& state, Clock& clock);

    // The home page's title may have changed; it is read within kReadTitleMs.
    void homeTitleChanged(const QString& title);
    // Home: the log-in state is forgotten until a page tells it again.
    void forget();
    // Home is loading: the hand-over and the notice's count start anew, and the page still shown
    // tells the state again until the new one comes.
    void resset();

    // Timer handlers.
    void checkConstantly_Timer();
    void notifyDelay_Timer();
    void Timer1_Timer();

    std::unique_ptr<Timer> checkConstantly;
    std::unique_ptr<Timer> notifyDelay;
    std::unique_ptr<Timer> Timer1;

signals:
    // The log-in state is known: the home page takes the loader's place.
    void loginKnown();
    // The home page is taking longer than expected.
    void slowLoading();

private:
    AppState& m_state;
    QString m_homeTitle;
};

} // namespace tunalo
