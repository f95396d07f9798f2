#pragma once

#include "ui/panel.h"

namespace tunalo {

class mainmodule;

// The about panel: who made the program, over a picture of flowers.
class aboutfrm : public Panel {
public:
    explicit aboutfrm(mainmodule& app);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
};

} // namespace tunalo
