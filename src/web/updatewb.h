#pragma once

#include "platform/browser.h"

#include <QWidget>

#include <memory>

namespace tunalo {

class BrowserFactory;

// The post browser's form; it is never shown.
class updatewb : public QWidget {
public:
    explicit updatewb(BrowserFactory& browsers);
    ~updatewb() override;

    Browser& wb() { return *m_wb; }

private:
    std::unique_ptr<Browser> m_wb;
};

} // namespace tunalo
