#pragma once

#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace tunalo {

// One embedded web browser.
class Browser {
public:
    virtual ~Browser() = default;

    // Starts a GET of url in this browser and returns at once; a navigation still under way is
    // replaced.
    virtual void Navigate(const QString& url) = 0;
    // The title of the page now shown. Before any page has loaded it matches no title the
    // service uses.
    virtual QString LocationName() const = 0;
    // The widget that shows the page, to be laid into a form.
    virtual QWidget* widget() = 0;
    // listener runs whenever LocationName may have changed.
    virtual void setTitleListener(std::function<void()> listener) = 0;
};

// Makes browsers that share one cookie store, so a log-in made in one is in force in the others.
// Making the factory is cheap; the browser engine starts with the first browser.
class BrowserFactory {
public:
    virtual ~BrowserFactory() = default;
    virtual std::unique_ptr<Browser> createBrowser(QWidget* parent) = 0;
};

} // namespace tunalo
