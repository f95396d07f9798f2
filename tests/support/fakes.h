#pragma once

#include "core/appstate.h"
#include "platform/platform.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <ostream>
#include <vector>

class QWidget;

namespace tunalo {

// A log-in state in a test's message, as its number.
std::ostream& operator<<(std::ostream& out, LoginState state);

} // namespace tunalo

namespace tunalo::test {

// A scripted desktop: windows listed from the top of the stacking order to the bottom, and the
// foreground window among them.
class FakeWindowList : public WindowList {
public:
    struct Window {
        HWND handle;
        QString title;
    };

    HWND GetForegroundWindow() override { return foreground; }
    HWND GetWindow(HWND hWnd, std::uint32_t uCmd) override;
    QString GetWindowTextA(HWND hWnd, int nMaxCount) override;
    // Moves with every change of the windows below, as the real list's does with the desktop's.
    std::optional<std::uint64_t> version() override;

    // Adds a window at the bottom of the stacking order and returns its handle.
    HWND add(const QString& title);
    void setTitle(HWND handle, const QString& title);
    void destroy(HWND handle);

    std::vector<Window> windows; // top to bottom
    HWND foreground = 0;
    // Runs before each title read, with the handle about to be read.
    std::function<void(HWND)> beforeRead;
    int titleReads = 0;

private:
    HWND m_nextHandle = 0x1000;
};

// Records every command and record the tray component sends.
class FakeNotifyShell : public NotifyShell {
public:
    struct Call {
        std::uint32_t message;
        bool wide;
        NOTIFYICONDATAW recordW; // the record as sent, when wide
        NOTIFYICONDATAA recordA; // the record as sent, when ANSI
    };
    struct Popup {
        std::vector<MenuEntry> items;
        int defaultItem;
    };

    HWND createHiddenWindow(Listener listener) override;
    void destroyHiddenWindow(HWND hWnd) override;
    bool Shell_NotifyIconA(std::uint32_t dwMessage, NOTIFYICONDATAA* lpData) override;
    bool Shell_NotifyIconW(std::uint32_t dwMessage, NOTIFYICONDATAW* lpData) override;
    std::uint32_t GetVersion() override { return version; }
    bool SetForegroundWindow(HWND hWnd) override;
    void PopupMenu(const std::vector<MenuEntry>& items, int defaultItem,
                   std::function<void(int)> chosen) override;
    void setIconMenu(HWND hWnd, const std::vector<MenuEntry>& items, int defaultItem,
                     std::function<void(int)> chosen) override;
    HICON registerIcon(const QIcon& icon) override;
    QIcon iconFor(HICON hIcon) const override;
    bool hasNotificationArea() const override { return notificationArea; }
    void setBalloonImage(const QString& imagePath) override { balloonImage = imagePath; }

    // Delivers a notification code to the hidden window, as the shell would.
    void notify(std::uint32_t code);
    // Picks an item of the last popup menu.
    void choose(int index);
    // Picks an item of the icon's menu as the notification area shows it now.
    void chooseFromIconMenu(int index);

    std::uint32_t version = 0x0A280005; // NT family, version 5: the wide record with balloon tips
    bool notificationArea = true;
    QString balloonImage; // the picture file balloons carry now
    std::vector<Call> calls;
    std::vector<Popup> popups;
    Popup iconMenu{{}, -1}; // the icon's menu as given last
    HWND iconMenuWindow = 0;
    int iconMenuChanges = 0; // how often the icon's menu was given
    std::vector<HWND> foregroundCalls;
    HWND hiddenWindow = 0;
    bool hiddenWindowDestroyed = false;

private:
    Listener m_listener;
    std::uint32_t m_callbackMessage = 0;
    std::function<void(int)> m_chosen;
    std::function<void(int)> m_iconMenuChosen;
    std::vector<QIcon> m_icons;
};

// A browser whose page title the test sets; it records where it was sent. Made without a parent,
// as a test of the post queue makes it, it owns its widget.
class FakeBrowser : public Browser {
public:
    explicit FakeBrowser(QWidget* parent);
    ~FakeBrowser() override;
    void Navigate(const QString& url) override;
    QString LocationName() const override { return title; }
    QWidget* widget() override { return m_widget; }
    void setTitleListener(std::function<void()> listener) override { m_titleListener = std::move(listener); }
    void Stop() override;
    void setLoadListener(std::function<void(const LoadResult&)> listener) override
    {
        m_loadListener = std::move(listener);
    }
    // Shows an empty page with no title, as a browser does before it sleeps.
    void sleep(const QString& origin) override;
    void wake() override { asleep = false; }
    bool isAsleep() const override { return asleep; }

    // Shows a page with this title, telling the listener as a browser does.
    void setTitle(const QString& text);
    // Ends the navigation under way: the page titled title came in whole.
    void finishLoading(const QString& text);
    // Ends the navigation under way without a page.
    void failLoading(LoadResult::Outcome outcome, int code = 0,
                     const QString& reason = QStringLiteral("as the test says"));

    QStringList navigations;
    QString title;
    int stops = 0;
    bool asleep = false;
    int sleeps = 0;
    QString sleepOrigin; // the origin of the last sleep
    // Runs at each navigation, with the address, after it was recorded.
    std::function<void(const QString&)> onNavigate;

private:
    QWidget* m_widget;
    std::unique_ptr<QWidget> m_ownWidget;
    std::function<void()> m_titleListener;
    std::function<void(const LoadResult&)> m_loadListener;
};

class FakeBrowserFactory : public BrowserFactory {
public:
    std::unique_ptr<Browser> createBrowser(QWidget* parent) override;
    // The browsers in the order they were made; they live as long as their forms.
    std::vector<FakeBrowser*> made;
};

class MemorySettingsStore : public SettingsStore {
public:
    SettingsSection readSection(const QString& application, const QString& section) override;
    ChangeResult save(const QString& application, const QString& section, const QString& key,
                      const QString& text) override;

    // The value under the program's own application and section, if stored.
    bool has(const QString& key) const;
    QString value(const QString& key) const;
    void set(const QString& key, const QString& text);

    QMap<QString, QString> values; // "application/section/key" -> text
    int reads = 0;                 // reads of a section
    int saves = 0;
    QString refusal; // when set, every save is refused with this cause and stores nothing
};

class RecordingShellOpen : public ShellOpen {
public:
    void open(const QString& address) override { opened.append(address); }
    QStringList opened;
};

// Media players on a scripted bus.
class FakeMediaPlayers : public MediaPlayers {
public:
    void watch() override { watching = true; }
    bool anyPlayer() override { return watching && any; }
    NowPlaying nowPlaying() override { return watching ? playing : NowPlaying{}; }
    std::vector<BusPlayer> busPlayers() override { return watching ? onBus : std::vector<BusPlayer>{}; }
    void choosePlayers(const QString& text) override { choice = text; }

    bool watching = false;
    bool any = false;
    NowPlaying playing;
    std::vector<BusPlayer> onBus;
    QString choice; // the choice last given, as the settings keep it
};

class FakeInstanceLock : public InstanceLock {
public:
    bool tryLock() override
    {
        ++attempts;
        return free;
    }
    Refusal refusal() const override { return {!free, free ? QString() : QStringLiteral("held")}; }
    void onShowAsked(std::function<void()> handler) override { show = std::move(handler); }
    bool askToShow() override { return false; }
    bool free = true;
    int attempts = 0;
    std::function<void()> show; // what a later start's request calls
};

// Start at log-in as a flag; a refusing desktop keeps the flag as it was and says why.
class FakeAutostart : public Autostart {
public:
    bool isEnabled() const override { return enabled; }
    ChangeResult setEnabled(bool on) override
    {
        ++changes;
        if (!refusal.isEmpty())
            return ChangeResult::refused(refusal);
        enabled = on;
        return {};
    }
    bool enabled = false;
    QString refusal; // when set, every change is refused with this cause
    int changes = 0;
};

// Time that moves only when the test moves it: advance runs every timer that falls due on the way,
// in the order they fall due, each seeing the clock at its own moment.
class ManualClock : public Clock {
public:
    ManualClock();
    ~ManualClock() override;
    qint64 now() const override { return m_now; }
    std::unique_ptr<Timer> makeTimer(std::function<void()> handler) override;

    void advance(qint64 ms);

private:
    class ManualTimer;
    friend class ManualTimer;

    qint64 m_now = 0;
    std::uint64_t m_nextOrder = 0;
    std::vector<ManualTimer*> m_timers;
};

// A platform made of fakes, with typed access to each.
struct FakePlatform {
    FakePlatform();

    Platform platform;
    ManualClock* clock;
    FakeInstanceLock* lock;
    MemorySettingsStore* settings;
    FakeWindowList* windows;
    FakeNotifyShell* shell;
    FakeBrowserFactory* browsers;
    RecordingShellOpen* shellOpen;
    FakeMediaPlayers* players;
    FakeAutostart* autostart;
};

} // namespace tunalo::test
