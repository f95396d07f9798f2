#pragma once

#include "platform/notifyshell.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace tunalo {

// The notification-area icon with its tip, balloon tips and popup menu. Its events are signals.
// Constructing it adds the icon; Form_QueryUnload or the destructor removes it.
class frmSysTray : public QObject {
    Q_OBJECT
public:
    explicit frmSysTray(NotifyShell& shell, QObject* parent = nullptr);
    ~frmSysTray() override;

    void ShowBalloonTip(const QString& sMessage, const QString& sTitle, std::int32_t eIcon,
                        std::int32_t lTimeOutMs = 30000);
    QString ToolTip() const;
    void setToolTip(const QString& sTip);
    HICON IconHandle() const;
    void setIconHandle(HICON hIcon);

    // Returns the new item's index; throws std::overflow_error when no 16-bit index is left.
    std::int32_t AddMenuItem(const QString& sCaption, const QString& sKey, bool bDefault = false);
    void EnableMenuItem(std::int32_t lIndex, bool bState);
    std::int32_t RemoveMenuItem(std::int32_t iIndex);
    std::int32_t DefaultMenuIndex() const { return m_lDefaultItem; }
    void setDefaultMenuIndex(std::int32_t lIndex);
    // Pops the menu up at the pointer; the choice arrives later as MenuClick.
    void ShowMenu();

    // Removes the icon; later calls and the destructor send nothing more.
    void Form_QueryUnload();

    // One notification from the shell for the icon, decoded into at most one event.
    void Form_MouseMove(std::uint32_t code);
    void mnuSysTray_Click(std::int32_t Index);

    // The variant chosen at load.
    bool usesWideRecord() const { return m_bUseWide; }
    bool isBalloonShell() const { return m_bBalloonShell; }

    static constexpr int kMaxMenuIndex = 32767;

signals:
    void SysTrayMouseDown(std::int32_t eButton);
    void SysTrayMouseUp(std::int32_t eButton);
    void SysTrayMouseMove();
    void SysTrayDoubleClick(std::int32_t eButton);
    void MenuClick(std::int32_t lIndex, const QString& sKey);
    void BalloonShow();
    void BalloonHide();
    void BalloonTimeOut();
    void BalloonClicked();

private:
    struct MenuItem {
        QString caption;
        QString key;
        bool enabled = true;
        bool visible = true;
    };

    void Form_Load();
    NOTIFYICONDATAW& record();
    const NOTIFYICONDATAW& record() const;
    std::size_t tipLength() const;
    void send(std::uint32_t dwMessage);
    void sendAnsi(std::uint32_t dwMessage);
    bool IsValidIndex(std::int32_t l) const;
    // The menu as the shell draws it, with the item to draw in bold (-1 for none), and what a
    // choice from it runs.
    std::vector<MenuEntry> menuEntries() const;
    int drawnDefault() const;
    std::function<void(int)> menuChoice();
    // Gives the shell the menu again after a change, for a notification area that shows it itself.
    void publishMenu();

    NotifyShell& m_shell;
    HWND m_hWnd = 0;
    bool m_bUseWide = false;
    bool m_bBalloonShell = false;
    bool m_bUnloaded = false;
    // The ANSI record as held: numeric members as sent, text members as wide text that each call
    // converts into the locale's bytes and back.
    NOTIFYICONDATAW m_tIconDataA{};
    NOTIFYICONDATAW m_tIconDataW{};

    std::vector<MenuItem> mnuSysTray{MenuItem{}};
    bool m_bItemZeroUsed = false;
    bool m_bMenuPublishing = false; // the menu goes to the shell from the event loop
    std::int32_t m_lDefaultItem = 0;
};

// Copies text into a field of fieldLength units: at most fieldLength - 1 of them, zeros after.
void FillTextField(char16_t* field, std::size_t fieldLength, const QString& text);

// Text in the locale's encoding cut on a character boundary to fit capacity bytes with its zero.
QByteArray toAnsiText(const QString& text, qsizetype capacity);

} // namespace tunalo
