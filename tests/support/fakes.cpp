#include "support/fakes.h"

#include "core/settings.h"
#include "nowplaying/cuttitle.h"

#include <QHashFunctions>
#include <QWidget>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace tunalo {

std::ostream& operator<<(std::ostream& out, LoginState state)
{
    return out << static_cast<int>(state);
}

} // namespace tunalo

namespace tunalo::test {

namespace {
QString storeKey(const QString& application, const QString& section, const QString& key)
{
    return application + QLatin1Char('/') + section + QLatin1Char('/') + key;
}
} // namespace

HWND FakeWindowList::GetWindow(HWND hWnd, std::uint32_t uCmd)
{
    if (uCmd != GW_HWNDNEXT)
        return 0;
    const auto it =
        std::find_if(windows.begin(), windows.end(), [&](const Window& w) { return w.handle == hWnd; });
    if (it == windows.end() || std::next(it) == windows.end())
        return 0;
    return std::next(it)->handle;
}

QString FakeWindowList::GetWindowTextA(HWND hWnd, int nMaxCount)
{
    if (beforeRead)
        beforeRead(hWnd);
    ++titleReads;
    const auto it =
        std::find_if(windows.begin(), windows.end(), [&](const Window& w) { return w.handle == hWnd; });
    return it == windows.end() ? QString() : cutTitle(it->title, nMaxCount);
}

std::optional<std::uint64_t> FakeWindowList::version()
{
    std::size_t seed = qHash(foreground);
    for (const Window& window : windows)
        seed = qHashMulti(seed, window.handle, window.title);
    return seed;
}

HWND FakeWindowList::add(const QString& title)
{
    windows.push_back({++m_nextHandle, title});
    return m_nextHandle;
}

void FakeWindowList::setTitle(HWND handle, const QString& title)
{
    for (Window& window : windows)
        if (window.handle == handle)
            window.title = title;
}

void FakeWindowList::destroy(HWND handle)
{
    std::erase_if(windows, [&](const Window& w) { return w.handle == handle; });
    if (foreground == handle)
        foreground = 0;
}

HWND FakeNotifyShell::createHiddenWindow(Listener listener)
{
    m_listener = std::move(listener);
    hiddenWindow = 0x7001;
    return hiddenWindow;
}

void FakeNotifyShell::destroyHiddenWindow(HWND)
{
    hiddenWindowDestroyed = true;
}

bool FakeNotifyShell::Shell_NotifyIconA(std::uint32_t dwMessage, NOTIFYICONDATAA* lpData)
{
    Call call{dwMessage, false, {}, *lpData};
    m_callbackMessage = lpData->uCallbackMessage;
    calls.push_back(call);
    return true;
}

bool FakeNotifyShell::Shell_NotifyIconW(std::uint32_t dwMessage, NOTIFYICONDATAW* lpData)
{
    Call call{dwMessage, true, *lpData, {}};
    m_callbackMessage = lpData->uCallbackMessage;
    calls.push_back(call);
    return true;
}

bool FakeNotifyShell::SetForegroundWindow(HWND hWnd)
{
    foregroundCalls.push_back(hWnd);
    return true;
}

void FakeNotifyShell::PopupMenu(const std::vector<MenuEntry>& items, int defaultItem,
                                std::function<void(int)> chosen)
{
    popups.push_back({items, defaultItem});
    m_chosen = std::move(chosen);
}

void FakeNotifyShell::setIconMenu(HWND hWnd, const std::vector<MenuEntry>& items, int defaultItem,
                                  std::function<void(int)> chosen)
{
    iconMenu = {items, defaultItem};
    iconMenuWindow = hWnd;
    ++iconMenuChanges;
    m_iconMenuChosen = std::move(chosen);
}

HICON FakeNotifyShell::registerIcon(const QIcon& icon)
{
    m_icons.push_back(icon);
    return static_cast<HICON>(0x500 + m_icons.size());
}

QIcon FakeNotifyShell::iconFor(HICON hIcon) const
{
    const std::size_t index = hIcon - 0x501;
    return index < m_icons.size() ? m_icons[index] : QIcon();
}

void FakeNotifyShell::notify(std::uint32_t code)
{
    if (m_listener)
        m_listener(m_callbackMessage, code);
}

void FakeNotifyShell::choose(int index)
{
    if (m_chosen)
        std::exchange(m_chosen, nullptr)(index);
}

void FakeNotifyShell::chooseFromIconMenu(int index)
{
    // The menu stays on offer after a choice, unlike a popup.
    if (m_iconMenuChosen)
        m_iconMenuChosen(index);
}

FakeBrowser::FakeBrowser(QWidget* parent) : m_widget(new QWidget(parent))
{
    if (parent == nullptr)
        m_ownWidget.reset(m_widget);
}

FakeBrowser::~FakeBrowser() = default;

void FakeBrowser::setTitle(const QString& text)
{
    title = text;
    if (m_titleListener)
        m_titleListener();
}

void FakeBrowser::finishLoading(const QString& text)
{
    setTitle(text);
    if (m_loadListener)
        m_loadListener(LoadResult{});
}

void FakeBrowser::failLoading(LoadResult::Outcome outcome, int code, const QString& reason)
{
    if (m_loadListener)
        m_loadListener(LoadResult{outcome, code, reason});
}

void FakeBrowser::Stop()
{
    ++stops;
}

void FakeBrowser::sleep(const QString& origin)
{
    asleep = true;
    ++sleeps;
    sleepOrigin = origin;
    setTitle(QString());
}

void FakeBrowser::Navigate(const QString& url)
{
    asleep = false;
    navigations.append(url);
    if (onNavigate)
        onNavigate(url);
}

std::unique_ptr<Browser> FakeBrowserFactory::createBrowser(QWidget* parent)
{
    auto browser = std::make_unique<FakeBrowser>(parent);
    made.push_back(browser.get());
    return browser;
}

SettingsSection MemorySettingsStore::readSection(const QString& application, const QString& section)
{
    ++reads;
    const QString prefix = storeKey(application, section, QString());
    SettingsSection found;
    for (auto at = values.cbegin(); at != values.cend(); ++at) {
        if (at.key().startsWith(prefix))
            found.insert(at.key().mid(prefix.size()), at.value());
    }
    return found;
}

ChangeResult MemorySettingsStore::save(const QString& application, const QString& section,
                                       const QString& key, const QString& text)
{
    ++saves;
    if (!refusal.isEmpty())
        return ChangeResult::refused(refusal);
    values.insert(storeKey(application, section, key), text);
    return {};
}

bool MemorySettingsStore::has(const QString& key) const
{
    return values.contains(storeKey(settings::kApplication, settings::kSection, key));
}

QString MemorySettingsStore::value(const QString& key) const
{
    return values.value(storeKey(settings::kApplication, settings::kSection, key));
}

void MemorySettingsStore::set(const QString& key, const QString& text)
{
    values.insert(storeKey(settings::kApplication, settings::kSection, key), text);
}

class ManualClock::ManualTimer : public Timer {
public:
    ManualTimer(ManualClock& clock, std::function<void()> handler) : m_clock(clock), m_handler(std::move(handler))
    {
        m_clock.m_timers.push_back(this);
    }
    ~ManualTimer() override { std::erase(m_clock.m_timers, this); }

    void start(int ms) override { begin(ms, 0); }
    // A repeating wait of no time would never let advance end.
    void startRepeating(int ms) override
    {
        if (ms <= 0)
            throw std::invalid_argument("a repeating timer needs a wait longer than 0 ms");
        begin(ms, ms);
    }
    void stop() override { m_due.reset(); }
    bool isActive() const override { return m_due.has_value(); }

    std::optional<qint64> due() const { return m_due; }
    std::uint64_t order() const { return m_order; }
    void fire()
    {
        m_due = m_repeatMs > 0 ? std::optional<qint64>(*m_due + m_repeatMs) : std::nullopt;
        m_order = ++m_clock.m_nextOrder;
        m_handler();
    }

private:
    void begin(int ms, int repeatMs)
    {
        m_due = m_clock.m_now + std::max(ms, 0);
        m_repeatMs = repeatMs;
        m_order = ++m_clock.m_nextOrder;
    }

    ManualClock& m_clock;
    std::function<void()> m_handler;
    std::optional<qint64> m_due;
    int m_repeatMs = 0;
    std::uint64_t m_order = 0; // of two timers due at one moment, the one started first runs first
};

ManualClock::ManualClock() = default;
ManualClock::~ManualClock() = default;

std::unique_ptr<Timer> ManualClock::makeTimer(std::function<void()> handler)
{
    return std::make_unique<ManualTimer>(*this, std::move(handler));
}

void ManualClock::advance(qint64 ms)
{
    const qint64 until = m_now + ms;
    for (;;) {
        ManualTimer* next = nullptr;
        for (ManualTimer* timer : m_timers) {
            const auto due = timer->due();
            if (!due || *due > until)
                continue;
            if (!next || *due < *next->due() || (*due == *next->due() && timer->order() < next->order()))
                next = timer;
        }
        if (!next)
            break;
        m_now = *next->due();
        next->fire();
    }
    m_now = until;
}

namespace {
template <class Fake, class Interface>
Fake* own(std::unique_ptr<Interface>& slot)
{
    auto fake = std::make_unique<Fake>();
    Fake* raw = fake.get();
    slot = std::move(fake);
    return raw;
}
} // namespace

FakePlatform::FakePlatform()
    : clock(own<ManualClock>(platform.clock)), lock(own<FakeInstanceLock>(platform.lock)),
      settings(own<MemorySettingsStore>(platform.settings)), windows(own<FakeWindowList>(platform.windows)),
      shell(own<FakeNotifyShell>(platform.shell)), browsers(own<FakeBrowserFactory>(platform.browsers)),
      shellOpen(own<RecordingShellOpen>(platform.shellOpen)), players(own<FakeMediaPlayers>(platform.players)),
      autostart(own<FakeAutostart>(platform.autostart))
{
}

} // namespace tunalo::test
