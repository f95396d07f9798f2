#pragma once

#include "platform/browser.h"

#include <QWidget>

#include <memory>

namespace tunalo {

class mainmodule;

// The post browser's form; it is never shown.
class updatewb : public QWidget {
public:
    explicit updatewb(mainmodule& app);
    ~updatewb() override;

    Browser& wb() { return *m_wb; }

private:
    std::unique_ptr<Browser> m_wb;
};

} // namespace tunalo
