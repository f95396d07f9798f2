#pragma once

#include "ui/panel.h"

class QLabel;

namespace tunalo {

// The message panel: a heading and a text about a problem, with a warning sign.
class info : public Panel {
public:
    info();

    QLabel* title;
    QLabel* msg;
    QLabel* Picture1;
    QWidget* Shape1;
};

} // namespace tunalo
