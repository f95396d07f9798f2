#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;

namespace tunalo {

class mainmodule;
class frmSysTray;

// The main window: six buttons, the status line and the container the panels are docked into.
class interface : public QWidget {
public:
    explicit interface(mainmodule& app);
    ~interface() override;

    void Form_Load();

    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command5;
    QPushButton* Command6;
    QLabel* sts;
    QWidget* cp;
    QTimer* update;

    // What a click on the balloon now shown does: 0 nothing, 1000 post the song, 2000 open the options.
    std::int32_t BallonMsgs = 0;
    std::unique_ptr<frmSysTray> m_frmSysTray;

private:
    mainmodule& m_app;
};

} // namespace tunalo
