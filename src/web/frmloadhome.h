#pragma once

#include "ui/panel.h"

#include <QPalette>
#include <QPixmap>

#include <array>
#include <cstdint>

class QLabel;
class QTimer;

namespace tunalo {

// The home page loader: a loading animation shown until the home page tells the log-in state
// (the log-in watch says when), with a notice when the page is slow to come.
class frmloadhome : public Panel {
public:
    frmloadhome();

    // Back to "loading": the slow-loading notice hidden.
    void resset();
    // The home page is taking longer than expected.
    void showNotice();
    // The service at address could not be reached, for the cause given; the notice says so.
    // An empty address: it was reached after all.
    void setUnreached(const QString& address, const QString& cause);

    // Timer handler.
    void gifAnim_Timer();

    QLabel* st;
    std::array<QLabel*, 11> frame;
    QTimer* gifAnim;
    QLabel* Label1;
    std::array<QLabel*, 7> Label2;
    QLabel* Label3; // the address that could not be reached and why, under the notice

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void layOut();
    // The animation's pictures, drawn when they are not.
    void drawFrames();
    void setNoticeVisible(bool visible);

    std::int16_t m_frameCounter = 0;
};

// One picture of the loading animation: a ring of red dots around the word LOADING, the dot at
// index bright and the others pale, on nothing, so the panel's own colour shows around them; the
// word takes the palette's text colour where the design's dark red would not stand out.
QPixmap loadingFrame(int index, int dots, const QPalette& palette);

} // namespace tunalo
