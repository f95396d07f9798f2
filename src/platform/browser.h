#pragma once

#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace tunalo {

// How a navigation ended.
struct LoadResult {
    enum class Outcome {
        Loaded,     // the page came in whole, with a success status
        NotReached, // refused, reset, cut off, name not found, stopped: no page came in whole
        HttpError,  // the server answered with an error status
    };
    Outcome outcome = Outcome::Loaded;
    int code = 0;   // the HTTP status for HttpError, the engine's error number for NotReached
    QString reason; // for the log and the user: "connection refused", "name not found",
                    // "certificate refused", "time-out", or the engine's own words
};

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
    // listener runs whenever LocationName may have changed; it replaces the one set before, and an
    // empty one stops the calls.
    virtual void setTitleListener(std::function<void()> listener) = 0;
    // Stops the navigation under way; it then ends as NotReached.
    virtual void Stop() = 0;
    // listener runs once for each navigation when it has ended, the newest only: a navigation that
    // a later one replaced reports nothing. LocationName then gives the page's final title.
    virtual void setLoadListener(std::function<void(const LoadResult&)> listener) = 0;

    // Lets the page go while nobody needs it, so that its share of the engine's memory goes too: the
    // page is replaced by an empty one of origin (scheme, host and port) and then put to sleep. A
    // page shown on screen stays awake. The navigation under way, if any, reports nothing.
    virtual void sleep(const QString& origin) = 0;
    // Brings the page back, empty; the next Navigate loads as usual. Waking never loads an address
    // the browser showed before it slept. Navigate wakes a sleeping browser too.
    virtual void wake() = 0;
    // Between sleep and the next wake or Navigate.
    virtual bool isAsleep() const = 0;
};

// Makes browsers that share one cookie store, so a log-in made in one is in force in the others.
// Making the factory is cheap; the browser engine starts with the first browser.
class BrowserFactory {
public:
    virtual ~BrowserFactory() = default;
    virtual std::unique_ptr<Browser> createBrowser(QWidget* parent) = 0;
};

} // namespace tunalo
