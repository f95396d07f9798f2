#include "support/fakes.h"
#include "support/trayevents.h"
#include "tray/frmsystray.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>

namespace tunalo::test {
namespace {

using Call = FakeNotifyShell::Call;

constexpr std::uint32_t kNt50 = 0x08930005;
constexpr std::uint32_t kNt61 = 0x1DB10106;
constexpr std::uint32_t kNt40 = 0x05650004;
constexpr std::uint32_t kMe490 = 0xC0005A04;
constexpr std::uint32_t kWin98 = 0xC0000A04;
constexpr std::uint32_t kOther50 = 0x80000005;

std::unique_ptr<frmSysTray> load(FakeNotifyShell& shell, std::uint32_t version)
{
    shell.version = version;
    return std::make_unique<frmSysTray>(shell);
}

// A text member of a sent record as the shell reads it, with the check that every unit after the
// text, up to the end of the field, is zero.
template <typename Char, std::size_t N> QString sentText(const Char (&field)[N])
{
    const QString text = recordText(field, N);
    const std::size_t used = std::find(field, field + N, Char{}) - field;
    EXPECT_TRUE(std::all_of(field + used, field + N, [](Char c) { return c == Char{}; }));
    return text;
}

QString sentTip(const Call& call)
{
    return call.wide ? sentText(call.recordW.szTip) : sentText(call.recordA.szTip);
}
QString sentInfo(const Call& call)
{
    return call.wide ? sentText(call.recordW.szInfo) : sentText(call.recordA.szInfo);
}
QString sentTitle(const Call& call)
{
    return call.wide ? sentText(call.recordW.szInfoTitle) : sentText(call.recordA.szInfoTitle);
}
std::uint32_t sentFlags(const Call& call)
{
    return call.wide ? call.recordW.uFlags : call.recordA.uFlags;
}
std::uint32_t sentTimeout(const Call& call)
{
    return call.wide ? call.recordW.uTimeout : call.recordA.uTimeout;
}

struct Variant {
    const char* name;
    std::uint32_t version;
    bool wide;
    std::uint32_t cbSize;
    bool balloons;
    int tipLength; // the tip field as announced
};

void PrintTo(const Variant& variant, std::ostream* os)
{
    *os << variant.name;
}

class TrayVariant : public ::testing::TestWithParam<Variant> {
protected:
    FakeNotifyShell shell;
};

TEST_P(TrayVariant, LoadAddsTheIconWithItsOwnPictureAndAnEmptyTipInTheVariantOfTheVersionWord)
{
    const Variant& v = GetParam();
    const auto tray = load(shell, v.version);
    EXPECT_EQ(tray->usesWideRecord(), v.wide);
    EXPECT_EQ(tray->isBalloonShell(), v.balloons);
    ASSERT_EQ(shell.calls.size(), v.balloons ? 2u : 1u);

    const Call& add = shell.calls[0];
    EXPECT_EQ(add.message, NIM_ADD);
    EXPECT_EQ(add.wide, v.wide);
    const auto check = [&](const auto& r) {
        EXPECT_EQ(r.cbSize, v.cbSize);
        EXPECT_EQ(r.hWnd, shell.hiddenWindow);
        EXPECT_EQ(r.uFlags, 7u);
        EXPECT_EQ(r.uCallbackMessage, 512u);
        EXPECT_NE(r.hIcon, 0u);
        EXPECT_EQ(r.uID, r.hIcon);
        EXPECT_FALSE(shell.iconFor(r.hIcon).isNull());
        EXPECT_EQ(r.uVersion, v.balloons ? NOTIFYICON_VERSION : 0u);
    };
    v.wide ? check(add.recordW) : check(add.recordA);
    EXPECT_EQ(sentTip(add), QString());
    EXPECT_EQ(tray->ToolTip(), QString());
    EXPECT_EQ(tray->IconHandle(), v.wide ? add.recordW.hIcon : add.recordA.hIcon);
    if (v.balloons) {
        EXPECT_EQ(shell.calls[1].message, NIM_SETVERSION);
        EXPECT_EQ(shell.calls[1].wide, v.wide);
    }

    // A shell without balloons is sent none, so none of their events can follow.
    tray->ShowBalloonTip(QStringLiteral("m"), QStringLiteral("t"), 0);
    EXPECT_EQ(shell.calls.size(), v.balloons ? 3u : 1u);
}

TEST_P(TrayVariant, TextIsCutToItsAnnouncedFieldLessOne)
{
    const Variant& v = GetParam();
    const auto tray = load(shell, v.version);
    tray->setToolTip(QString(200, QLatin1Char('t')));
    ASSERT_EQ(sentFlags(shell.calls.back()), NIF_TIP);
    EXPECT_EQ(sentTip(shell.calls.back()), QString(v.tipLength - 1, QLatin1Char('t')));
    EXPECT_EQ(tray->ToolTip(), QString(v.tipLength - 1, QLatin1Char('t')));
    if (!v.balloons)
        return;

    tray->ShowBalloonTip(QString(300, QLatin1Char('m')), QString(100, QLatin1Char('h')), 16);
    EXPECT_EQ(sentInfo(shell.calls.back()), QString(255, QLatin1Char('m')));
    EXPECT_EQ(sentTitle(shell.calls.back()), QString(63, QLatin1Char('h')));

    tray->ShowBalloonTip(QStringLiteral("second"), QString(), 0);
    EXPECT_EQ(sentInfo(shell.calls.back()), QStringLiteral("second"));
    EXPECT_EQ(sentTitle(shell.calls.back()), QString());
}

TEST_P(TrayVariant, SendsOneCommandPerChangeAndCarriesTheLastTimeOut)
{
    const Variant& v = GetParam();
    auto tray = load(shell, v.version);
    const HICON own = tray->IconHandle();
    const HICON other = shell.registerIcon(QIcon());
    shell.calls.clear();

    tray->setToolTip(QStringLiteral("tip"));
    tray->setIconHandle(own); // already shown: nothing is sent
    tray->setIconHandle(other);
    tray->setIconHandle(other);
    tray->ShowBalloonTip(QStringLiteral("message"), QStringLiteral("title"), 16, 5000);
    tray->setToolTip(QStringLiteral("later"));
    tray->setIconHandle(own);
    tray->Form_QueryUnload();
    tray.reset(); // unloaded already: the icon is not removed twice

    std::vector<std::pair<std::uint32_t, std::uint32_t>> sent;
    for (const Call& call : shell.calls)
        sent.emplace_back(call.message, sentFlags(call));
    using P = std::pair<std::uint32_t, std::uint32_t>;
    std::vector<P> expected{P{NIM_MODIFY, NIF_TIP}, P{NIM_MODIFY, NIF_ICON}};
    if (v.balloons)
        expected.push_back(P{NIM_MODIFY, NIF_INFO});
    expected.insert(expected.end(),
                    {P{NIM_MODIFY, NIF_TIP}, P{NIM_MODIFY, NIF_ICON}, P{NIM_DELETE, NIF_ICON}});
    EXPECT_EQ(sent, expected);
    EXPECT_TRUE(shell.hiddenWindowDestroyed);

    const Call& modified = shell.calls[1];
    EXPECT_EQ(modified.wide ? modified.recordW.hIcon : modified.recordA.hIcon, other);
    const Call& removed = shell.calls.back();
    EXPECT_EQ(removed.wide ? removed.recordW.uID : removed.recordA.uID, own);
    EXPECT_EQ(sentTip(removed), QStringLiteral("later"));
    if (v.balloons) {
        const Call& balloon = shell.calls[2];
        EXPECT_EQ(sentInfo(balloon), QStringLiteral("message"));
        EXPECT_EQ(sentTitle(balloon), QStringLiteral("title"));
        EXPECT_EQ(balloon.wide ? balloon.recordW.dwInfoFlags : balloon.recordA.dwInfoFlags, 16u);
        for (std::size_t i = 2; i < shell.calls.size(); ++i)
            EXPECT_EQ(sentTimeout(shell.calls[i]), 5000u) << "call " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, TrayVariant,
                         ::testing::Values(Variant{"Nt50", kNt50, true, 936, true, 128},
                                           Variant{"Nt61", kNt61, true, 936, true, 128},
                                           Variant{"Nt40", kNt40, true, 152, false, 64},
                                           Variant{"Me490", kMe490, false, 488, true, 128},
                                           Variant{"Win98", kWin98, false, 88, false, 64},
                                           Variant{"OtherFamily50", kOther50, false, 88, false, 64}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TrayComponent, TheDestructorRemovesTheIconOnceWhenTheHostDidNot)
{
    FakeNotifyShell shell;
    load(shell, kNt50).reset();
    ASSERT_EQ(shell.calls.size(), 3u);
    EXPECT_EQ(shell.calls.back().message, NIM_DELETE);
    EXPECT_TRUE(shell.hiddenWindowDestroyed);
}

TEST(TrayComponent, TheDefaultTimeOutIsThirtySeconds)
{
    FakeNotifyShell shell;
    const auto tray = load(shell, kNt50);
    tray->ShowBalloonTip(QStringLiteral("m"), QStringLiteral("t"), 0);
    EXPECT_EQ(shell.calls.back().recordW.uTimeout, 30000u);
}

// The wide record copies code units, so a cut may split a pair; the byte record never splits a
// character and never fills its last byte.
TEST(TrayComponent, TheWideRecordCutsBetweenCodeUnitsTheByteRecordBetweenCharacters)
{
    const QString smiley = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString eAcute = QString::fromUtf8("\xC3\xA9");
    {
        FakeNotifyShell shell;
        const auto tray = load(shell, kNt50);
        tray->setToolTip(QString(126, QLatin1Char('a')) + smiley);
        const QString expected = QString(126, QLatin1Char('a')) + smiley.front();
        EXPECT_EQ(sentTip(shell.calls.back()), expected);
        EXPECT_EQ(tray->ToolTip(), expected);
    }

    struct Row {
        const char* what;
        std::uint32_t version;
        std::function<void(frmSysTray&)> write;
        std::function<QByteArray(const NOTIFYICONDATAA&)> field;
        QString expected;
    };
    const auto tipOf = [](const NOTIFYICONDATAA& r) { return QByteArray(r.szTip, sizeof r.szTip); };
    const Row rows[] = {
        {"long tip", kMe490, [&](frmSysTray& t) { t.setToolTip(eAcute.repeated(100)); }, tipOf,
         eAcute.repeated(63)},
        {"short tip", kWin98, [&](frmSysTray& t) { t.setToolTip(eAcute.repeated(40)); }, tipOf,
         eAcute.repeated(31)},
        {"message", kMe490, [&](frmSysTray& t) { t.ShowBalloonTip(eAcute.repeated(300), QString(), 0); },
         [](const NOTIFYICONDATAA& r) { return QByteArray(r.szInfo, sizeof r.szInfo); },
         eAcute.repeated(127)},
        {"title", kMe490,
         [&](frmSysTray& t) { t.ShowBalloonTip(QStringLiteral("m"), smiley.repeated(40), 0); },
         [](const NOTIFYICONDATAA& r) { return QByteArray(r.szInfoTitle, sizeof r.szInfoTitle); },
         smiley.repeated(15)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FakeNotifyShell shell;
        const auto tray = load(shell, row.version);
        row.write(*tray);
        const Call& call = shell.calls.back();
        ASSERT_FALSE(call.wide);
        const QByteArray field = row.field(call.recordA);
        const QByteArray expectedBytes = row.expected.toLocal8Bit();
        EXPECT_EQ(field.left(expectedBytes.size()), expectedBytes);
        EXPECT_EQ(field.mid(expectedBytes.size()), QByteArray(field.size() - expectedBytes.size(), '\0'));
    }

    // What the byte record carried comes back into the held text.
    FakeNotifyShell shell;
    const auto tray = load(shell, kWin98);
    tray->setToolTip(eAcute.repeated(40));
    EXPECT_EQ(tray->ToolTip(), eAcute.repeated(31));
}

TEST(TrayComponent, DecodesEachNotificationCodeIntoAtMostOneEvent)
{
    const std::pair<std::uint32_t, const char*> table[] = {
        {512, "move"},     {513, ""},         {514, "down 1"}, {515, "double 1"}, {516, "down 2"},
        {517, "up 2"},     {518, "double 2"}, {519, ""},       {520, ""},         {521, ""},
        {1024, ""},        {1025, ""},        {1026, "show"},  {1027, "hide"},    {1028, "timeout"},
        {1029, "clicked"}, {0, ""},           {1030, ""},      {0x10202, ""},
    };
    FakeNotifyShell shell;
    const auto tray = load(shell, kNt50);
    TrayEventLog log(*tray);
    for (const auto& [code, event] : table) {
        log.entries.clear();
        shell.notify(code);
        EXPECT_EQ(log.entries.join(QLatin1Char(',')), QString::fromLatin1(event)) << "code " << code;
    }
}

// The menu as the shell is asked to show it, popped up by ShowMenu or held for a notification
// area that shows it itself: "*" marks the bold default, "!" a disabled item, and each item's key
// is the one MenuClick reports when the item is chosen.
QString menuLayout(frmSysTray& tray, FakeNotifyShell& shell, bool iconMenu)
{
    const auto offer = [&] {
        if (!iconMenu) {
            tray.ShowMenu();
            return shell.popups.back();
        }
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(shell.iconMenuWindow, shell.hiddenWindow);
        return shell.iconMenu;
    };
    const FakeNotifyShell::Popup popup = offer();
    QStringList items;
    for (std::size_t i = 0; i < popup.items.size(); ++i) {
        const MenuEntry& entry = popup.items[i];
        QString key;
        auto connection = QObject::connect(&tray, &frmSysTray::MenuClick,
                                           [&key](int, const QString& k) { key = QLatin1Char('=') + k; });
        offer();
        if (iconMenu)
            shell.chooseFromIconMenu(static_cast<int>(i));
        else
            shell.choose(static_cast<int>(i));
        QObject::disconnect(connection);
        items.append(QString::fromLatin1(static_cast<int>(i) == popup.defaultItem ? "*" : "") +
                     QString::fromLatin1(entry.enabled ? "" : "!") + entry.caption + key);
    }
    return items.join(QLatin1Char('|'));
}

void addItems(frmSysTray& tray, const char* captions)
{
    for (const QChar c : QString::fromLatin1(captions))
        tray.AddMenuItem(QString(c).toUpper(), QString(c));
}

TEST(TrayMenu, Layouts)
{
    struct Row {
        const char* what;
        std::function<void(frmSysTray&)> build;
        const char* layout;
    };
    const Row rows[] = {
        {"before any item", [](frmSysTray&) {}, "*="},
        {"the program's menu",
         [](frmSysTray& t) {
             t.AddMenuItem(QStringLiteral("&Open TNLO FB App"), QStringLiteral("open"), true);
             t.AddMenuItem(QStringLiteral("-"), QString());
             t.AddMenuItem(QStringLiteral("Login\\Logout"), QStringLiteral("login"));
             t.AddMenuItem(QStringLiteral("-"), QString());
             t.AddMenuItem(QStringLiteral("&Exit"), QStringLiteral("Exit"));
         },
         "*&Open TNLO FB App=open|-|Login\\Logout=login|-|&Exit=Exit"},
        {"a later default moves the bold item",
         [](frmSysTray& t) {
             addItems(t, "a");
             t.AddMenuItem(QStringLiteral("B"), QStringLiteral("b"), true);
         },
         "A=a|*B=b"},
        {"default -1 falls back to 0",
         [](frmSysTray& t) {
             addItems(t, "abc");
             t.setDefaultMenuIndex(2);
             t.setDefaultMenuIndex(-1);
         },
         "*A=a|B=b|C=c"},
        {"default above the highest falls back to 0",
         [](frmSysTray& t) {
             addItems(t, "abc");
             t.setDefaultMenuIndex(1);
             t.setDefaultMenuIndex(3);
         },
         "*A=a|B=b|C=c"},
        {"enable outside the items changes nothing",
         [](frmSysTray& t) {
             addItems(t, "ab");
             t.EnableMenuItem(1, false);
             t.EnableMenuItem(2, false);
             t.EnableMenuItem(-1, false);
         },
         "*A=a|!B=b"},
        {"removing moves captions and keys but not states",
         [](frmSysTray& t) {
             addItems(t, "abcd");
             t.EnableMenuItem(2, false);
             t.RemoveMenuItem(1);
         },
         "*A=a|C=c|!D=d"},
        {"removing item 0 only empties its caption",
         [](frmSysTray& t) {
             addItems(t, "ab");
             t.RemoveMenuItem(0);
             addItems(t, "c");
         },
         "*=a|B=b|C=c"},
        {"removing the highest takes only that item",
         [](frmSysTray& t) {
             addItems(t, "abc");
             t.RemoveMenuItem(2);
         },
         "*A=a|B=b"},
        {"removing outside the items changes nothing",
         [](frmSysTray& t) {
             addItems(t, "ab");
             t.RemoveMenuItem(2);
             t.RemoveMenuItem(-1);
         },
         "*A=a|B=b"},
        {"a removed default draws nothing in bold",
         [](frmSysTray& t) {
             addItems(t, "ab");
             t.AddMenuItem(QStringLiteral("C"), QStringLiteral("c"), true);
             t.RemoveMenuItem(2);
         },
         "A=a|B=b"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FakeNotifyShell shell;
        const auto tray = load(shell, kNt50);
        row.build(*tray);
        EXPECT_EQ(menuLayout(*tray, shell, false), QString::fromLatin1(row.layout));
        EXPECT_EQ(menuLayout(*tray, shell, true), QString::fromLatin1(row.layout));
    }
}

TEST(TrayMenu, IndicesAndResults)
{
    FakeNotifyShell shell;
    const auto tray = load(shell, kNt50);
    for (int expected = 0; expected < 4; ++expected)
        EXPECT_EQ(tray->AddMenuItem(QStringLiteral("x"), QString()), expected);
    EXPECT_EQ(tray->DefaultMenuIndex(), 0);
    tray->setDefaultMenuIndex(3);
    EXPECT_EQ(tray->DefaultMenuIndex(), 3);
    EXPECT_EQ(tray->RemoveMenuItem(3), 0);
    EXPECT_EQ(tray->RemoveMenuItem(7), 0);
    EXPECT_EQ(tray->DefaultMenuIndex(), 3); // removals never move the default
    tray->RemoveMenuItem(0);
    EXPECT_EQ(tray->AddMenuItem(QStringLiteral("y"), QString()), 3);
}

TEST(TrayMenu, ShowMenuBringsTheHiddenWindowForwardAndReportsTheChoiceButNotSeparators)
{
    FakeNotifyShell shell;
    auto tray = load(shell, kNt50);
    TrayEventLog log(*tray);
    addItems(*tray, "ab");
    tray->AddMenuItem(QStringLiteral("-"), QString());
    tray->AddMenuItem(QStringLiteral("&Exit"), QStringLiteral("Exit"));

    tray->ShowMenu();
    EXPECT_EQ(shell.foregroundCalls, std::vector<HWND>{shell.hiddenWindow});
    EXPECT_TRUE(log.entries.isEmpty()) << "the choice comes later, not inside ShowMenu";
    shell.choose(2);
    tray->ShowMenu();
    shell.choose(3);
    EXPECT_EQ(log.entries, QStringList{QStringLiteral("menu 3 Exit")});

    // A menu still open when its component goes away reports nothing.
    tray->ShowMenu();
    tray.reset();
    shell.choose(0);
}

TEST(TrayMenu, TheIconMenuGoesToTheShellOnceAfterARunOfChangesAndNeverAfterUnload)
{
    FakeNotifyShell shell;
    auto tray = load(shell, kNt50);
    addItems(*tray, "abc");
    tray->EnableMenuItem(1, false);
    EXPECT_EQ(shell.iconMenuChanges, 0) << "the menu goes out from the event loop";
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(shell.iconMenuChanges, 1);
    ASSERT_EQ(shell.iconMenu.items.size(), 3u);
    EXPECT_FALSE(shell.iconMenu.items[1].enabled);

    tray->RemoveMenuItem(2);
    tray->Form_QueryUnload();
    QCoreApplication::sendPostedEvents();
    tray->setDefaultMenuIndex(1);
    tray.reset();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(shell.iconMenuChanges, 1);
}

TEST(TrayMenu, AddingPastIndex32767FailsAndAddsNothing)
{
    FakeNotifyShell shell;
    const auto tray = load(shell, kNt50);
    for (int i = 0; i <= frmSysTray::kMaxMenuIndex; ++i)
        tray->AddMenuItem(QStringLiteral("x"), QString());
    EXPECT_THROW(tray->AddMenuItem(QStringLiteral("y"), QStringLiteral("y")), std::overflow_error);
    tray->ShowMenu();
    ASSERT_EQ(shell.popups.back().items.size(), 32768u);
    EXPECT_EQ(shell.popups.back().items.back().caption, QStringLiteral("x"));
}

} // namespace
} // namespace tunalo::test
