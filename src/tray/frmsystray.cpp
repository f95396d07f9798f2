#include "tray/frmsystray.h"

#include <QPainter>
#include <QPixmap>
#include <QPointer>

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace tunalo {

namespace {

constexpr std::int32_t kLeftButton = 1;
constexpr std::int32_t kRightButton = 2;

struct SplitVersion {
    explicit SplitVersion(std::uint32_t word)
        : major(word & 0xFF), minor((word >> 8) & 0xFF), build(word >> 16),
          ntFamily((word & 0x80000000u) == 0)
    {
    }
    std::uint32_t major;
    std::uint32_t minor;
    std::uint32_t build; // split off with the rest, never used
    bool ntFamily;
};

// The picture the icon shows until the host gives it one: a white note on a blue tile.
QIcon drawOwnIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2a, 0x6f, 0xdb));
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(7, 19, 10, 8));
    painter.drawRect(QRectF(14.5, 6, 2.5, 17));
    painter.drawRect(QRectF(14.5, 6, 10, 3.5));
    painter.end();
    return QIcon(pixmap);
}

// Numeric members travel unchanged between the held record and the ANSI copy, both ways.
template <typename From, typename To> void copyNumbers(const From& from, To& to)
{
    to.cbSize = from.cbSize;
    to.hWnd = from.hWnd;
    to.uID = from.uID;
    to.uFlags = from.uFlags;
    to.uCallbackMessage = from.uCallbackMessage;
    to.hIcon = from.hIcon;
    to.dwState = from.dwState;
    to.dwStateMask = from.dwStateMask;
    to.uTimeout = from.uTimeout;
    to.dwInfoFlags = from.dwInfoFlags;
}

void toBytes(char* field, std::size_t announced, const char16_t* held, std::size_t heldLength)
{
    const QByteArray bytes = toAnsiText(recordText(held, heldLength), static_cast<qsizetype>(announced));
    std::copy(bytes.begin(), bytes.end(), field);
    std::fill(field + bytes.size(), field + announced, '\0');
}

void fromBytes(char16_t* held, std::size_t announced, const char* field)
{
    FillTextField(held, announced, recordText(field, announced));
}

} // namespace

void FillTextField(char16_t* field, std::size_t fieldLength, const QString& text)
{
    const std::size_t copied = std::min(static_cast<std::size_t>(text.size()), fieldLength - 1);
    const auto* units = reinterpret_cast<const char16_t*>(text.utf16());
    std::copy(units, units + copied, field);
    std::fill(field + copied, field + fieldLength, u'\0');
}

QByteArray toAnsiText(const QString& text, qsizetype capacity)
{
    QByteArray bytes;
    for (qsizetype at = 0; at < text.size();) {
        const bool pair = text[at].isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate();
        const qsizetype width = pair ? 2 : 1;
        const QByteArray character = QStringView(text).mid(at, width).toLocal8Bit();
        if (bytes.size() + character.size() > capacity - 1)
            break;
        bytes += character;
        at += width;
    }
    return bytes;
}

frmSysTray::frmSysTray(NotifyShell& shell, QObject* parent) : QObject(parent), m_shell(shell)
{
    Form_Load();
}

frmSysTray::~frmSysTray()
{
    Form_QueryUnload();
    m_shell.destroyHiddenWindow(m_hWnd);
}

void frmSysTray::Form_Load()
{
    m_hWnd = m_shell.createHiddenWindow([this](std::uint32_t uCallbackMessage, std::uint32_t code) {
        if (uCallbackMessage == WM_MOUSEMOVE)
            Form_MouseMove(code);
    });
    const HICON ownIcon = m_shell.registerIcon(drawOwnIcon());

    const SplitVersion version(m_shell.GetVersion());
    if (version.ntFamily) {
        m_bUseWide = true;
        m_bBalloonShell = version.major >= 5;
    } else {
        m_bBalloonShell = version.major == 4 && version.minor == 90;
    }

    NOTIFYICONDATAW& data = record();
    data.hWnd = m_hWnd;
    data.uID = ownIcon;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_MOUSEMOVE;
    data.hIcon = ownIcon;
    // The program carries no file description, so the tip starts empty.
    FillTextField(data.szTip, tipLength(), QString());
    if (m_bBalloonShell)
        data.uVersion = NOTIFYICON_VERSION;
    if (m_bUseWide)
        data.cbSize = m_bBalloonShell ? kNotifyIconSizeW : kNotifyIconOldSizeW;
    else
        data.cbSize = m_bBalloonShell ? kNotifyIconSizeA : kNotifyIconOldSizeA;

    send(NIM_ADD);
    if (m_bBalloonShell)
        send(NIM_SETVERSION);
    publishMenu();
}

void frmSysTray::Form_QueryUnload()
{
    if (m_bUnloaded)
        return;
    m_bUnloaded = true;
    send(NIM_DELETE);
}

NOTIFYICONDATAW& frmSysTray::record()
{
    return m_bUseWide ? m_tIconDataW : m_tIconDataA;
}

const NOTIFYICONDATAW& frmSysTray::record() const
{
    return m_bUseWide ? m_tIconDataW : m_tIconDataA;
}

std::size_t frmSysTray::tipLength() const
{
    return m_bBalloonShell ? std::size(m_tIconDataW.szTip) : kNotifyIconOldTipLength;
}

void frmSysTray::send(std::uint32_t dwMessage)
{
    if (m_bUseWide)
        m_shell.Shell_NotifyIconW(dwMessage, &m_tIconDataW);
    else
        sendAnsi(dwMessage);
}

void frmSysTray::sendAnsi(std::uint32_t dwMessage)
{
    NOTIFYICONDATAA copy{};
    copyNumbers(m_tIconDataA, copy);
    toBytes(copy.szTip, tipLength(), m_tIconDataA.szTip, tipLength());
    toBytes(copy.szInfo, std::size(copy.szInfo), m_tIconDataA.szInfo, std::size(m_tIconDataA.szInfo));
    toBytes(copy.szInfoTitle, std::size(copy.szInfoTitle), m_tIconDataA.szInfoTitle,
            std::size(m_tIconDataA.szInfoTitle));

    m_shell.Shell_NotifyIconA(dwMessage, &copy);

    copyNumbers(copy, m_tIconDataA);
    fromBytes(m_tIconDataA.szTip, tipLength(), copy.szTip);
    fromBytes(m_tIconDataA.szInfo, std::size(m_tIconDataA.szInfo), copy.szInfo);
    fromBytes(m_tIconDataA.szInfoTitle, std::size(m_tIconDataA.szInfoTitle), copy.szInfoTitle);
}

void frmSysTray::ShowBalloonTip(const QString& sMessage, const QString& sTitle, std::int32_t eIcon,
                                std::int32_t lTimeOutMs)
{
    if (!m_bBalloonShell)
        return;
    NOTIFYICONDATAW& data = record();
    FillTextField(data.szInfo, std::size(data.szInfo), sMessage);
    FillTextField(data.szInfoTitle, std::size(data.szInfoTitle), sTitle);
    data.uTimeout = static_cast<std::uint32_t>(lTimeOutMs);
    data.dwInfoFlags = static_cast<std::uint32_t>(eIcon);
    data.uFlags = NIF_INFO;
    send(NIM_MODIFY);
}

QString frmSysTray::ToolTip() const
{
    return recordText(record().szTip, std::size(record().szTip));
}

void frmSysTray::setToolTip(const QString& sTip)
{
    NOTIFYICONDATAW& data = record();
    FillTextField(data.szTip, tipLength(), sTip);
    data.uFlags = NIF_TIP;
    send(NIM_MODIFY);
}

HICON frmSysTray::IconHandle() const
{
    return record().hIcon;
}

void frmSysTray::setIconHandle(HICON hIcon)
{
    NOTIFYICONDATAW& data = record();
    if (hIcon == data.hIcon)
        return;
    data.hIcon = hIcon;
    data.uFlags = NIF_ICON;
    send(NIM_MODIFY);
}

void frmSysTray::Form_MouseMove(std::uint32_t code)
{
    switch (code) {
    case WM_MOUSEMOVE:
        emit SysTrayMouseMove();
        break;
    case WM_LBUTTONUP:
        // The left button reports its click at the release, as a press.
        emit SysTrayMouseDown(kLeftButton);
        break;
    case WM_LBUTTONDBLCLK:
        emit SysTrayDoubleClick(kLeftButton);
        break;
    case WM_RBUTTONDOWN:
        emit SysTrayMouseDown(kRightButton);
        break;
    case WM_RBUTTONUP:
        emit SysTrayMouseUp(kRightButton);
        break;
    case WM_RBUTTONDBLCLK:
        emit SysTrayDoubleClick(kRightButton);
        break;
    case NIN_BALLOONSHOW:
        emit BalloonShow();
        break;
    case NIN_BALLOONHIDE:
        emit BalloonHide();
        break;
    case NIN_BALLOONTIMEOUT:
        emit BalloonTimeOut();
        break;
    case NIN_BALLOONUSERCLICK:
        emit BalloonClicked();
        break;
    default:
        break;
    }
}

bool frmSysTray::IsValidIndex(std::int32_t l) const
{
    return l >= 0 && l < static_cast<std::int32_t>(mnuSysTray.size());
}

std::int32_t frmSysTray::AddMenuItem(const QString& sCaption, const QString& sKey, bool bDefault)
{
    std::int32_t index = 0;
    if (!m_bItemZeroUsed) {
        m_bItemZeroUsed = true;
    } else {
        index = static_cast<std::int32_t>(mnuSysTray.size());
        if (index > kMaxMenuIndex)
            throw std::overflow_error("the tray menu has no index left for another item");
        mnuSysTray.emplace_back();
    }
    MenuItem& item = mnuSysTray[static_cast<std::size_t>(index)];
    item.visible = true;
    item.key = sKey;
    item.caption = sCaption;
    if (bDefault)
        m_lDefaultItem = index;
    publishMenu();
    return index;
}

void frmSysTray::EnableMenuItem(std::int32_t lIndex, bool bState)
{
    if (!IsValidIndex(lIndex))
        return;
    mnuSysTray[static_cast<std::size_t>(lIndex)].enabled = bState;
    publishMenu();
}

std::int32_t frmSysTray::RemoveMenuItem(std::int32_t iIndex)
{
    if (!IsValidIndex(iIndex))
        return 0;
    if (iIndex == 0) {
        mnuSysTray.front().caption.clear();
        publishMenu();
        return 0;
    }
    // Captions and keys move down one place; the states belong to the places.
    for (auto i = static_cast<std::size_t>(iIndex) + 1; i < mnuSysTray.size(); ++i) {
        mnuSysTray[i - 1].caption = mnuSysTray[i].caption;
        mnuSysTray[i - 1].key = mnuSysTray[i].key;
    }
    mnuSysTray.pop_back();
    publishMenu();
    return 0;
}

void frmSysTray::setDefaultMenuIndex(std::int32_t lIndex)
{
    m_lDefaultItem = IsValidIndex(lIndex) ? lIndex : 0;
    publishMenu();
}

std::vector<MenuEntry> frmSysTray::menuEntries() const
{
    std::vector<MenuEntry> entries;
    entries.reserve(mnuSysTray.size());
    for (const MenuItem& item : mnuSysTray)
        entries.push_back({item.caption, item.enabled, item.visible});
    return entries;
}

int frmSysTray::drawnDefault() const
{
    // A default that a removal took away draws no item in bold.
    return IsValidIndex(m_lDefaultItem) ? m_lDefaultItem : -1;
}

std::function<void(int)> frmSysTray::menuChoice()
{
    QPointer<frmSysTray> self(this);
    return [self](int index) {
        if (self)
            self->mnuSysTray_Click(index);
    };
}

void frmSysTray::publishMenu()
{
    // A run of changes, such as the items added one by one at load, goes out once, from the event
    // loop.
    if (m_bMenuPublishing)
        return;
    m_bMenuPublishing = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_bMenuPublishing = false;
            if (!m_bUnloaded)
                m_shell.setIconMenu(m_hWnd, menuEntries(), drawnDefault(), menuChoice());
        },
        Qt::QueuedConnection);
}

void frmSysTray::ShowMenu()
{
    m_shell.SetForegroundWindow(m_hWnd);
    m_shell.PopupMenu(menuEntries(), drawnDefault(), menuChoice());
}

void frmSysTray::mnuSysTray_Click(std::int32_t Index)
{
    // The menu may have changed while it was open; a separator is never a choice.
    if (!IsValidIndex(Index) || mnuSysTray[static_cast<std::size_t>(Index)].caption == QLatin1String("-"))
        return;
    emit MenuClick(Index, mnuSysTray[static_cast<std::size_t>(Index)].key);
}

} // namespace tunalo
