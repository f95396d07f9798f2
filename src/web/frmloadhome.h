#pragma once

#include "ui/panel.h"

#include <QPixmap>

#include <array>
#include <cstdint>

class QLabel;
class QTimer;

namespace tunalo {

class mainmodule;

// The home page loader: a loading animation shown until the home page tells the log-in state.
// From its creation it also reads both browsers' page titles, for as long as the program runs.
class frmloadhome : public Panel {
public:
    explicit frmloadhome(mainmodule& app);

    // Back to "loading": the slow-loading notice hidden, the hand-over and the notice's count
    // switched on again.
    void resset();

    // Timer handlers.
    void checkConstantly_Timer();
    void gifAnim_Timer();
    void notifyDelay_Timer();
    void Timer1_Timer();

    QLabel* st;
    std::array<QLabel*, 11> frame;
    QTimer* checkConstantly;
    QTimer* gifAnim;
    QTimer* notifyDelay;
    QTimer* Timer1;
    QLabel* Label1;
    std::array<QLabel*, 7> Label2;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void layOut();
    void watchTitles();

    mainmodule& m_app;
    std::int16_t m_frameCounter = 0;
};

// One picture of the loading animation: a ring of red dots around the word LOADING, the dot at
// index bright and the others pale.
QPixmap loadingFrame(int index, int dots);

} // namespace tunalo
