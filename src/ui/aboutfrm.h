#pragma once

#include "ui/panel.h"

namespace tunalo {

// The about panel: who made the program, over a picture of flowers.
class aboutfrm : public Panel {
public:
    aboutfrm();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
};

} // namespace tunalo
