#pragma once

#include "platform/browser.h"

#include <QString>

#include <chrono>
#include <memory>

namespace tunalo {

class EngineLink;

// Browsers whose pages live in the browser engine's own process, tunalo-engine, so that the
// program itself never loads the engine. The process is started when a page is first needed (a
// navigation, or a browser woken) and ends once every browser sleeps and grace has passed, so
// that a run of posts finds it still there. A process that ends early (a crash, a kill) is
// started again by the next navigation; the navigation it was busy with ends as not reached.
// The home page is shown in the program's window by handing the engine the window to draw in.
// The engine keeps the cookies in the one profile on disk, so a log-in outlives the process.
class RemoteBrowsers : public BrowserFactory {
public:
    static constexpr std::chrono::milliseconds kGrace{60'000};

    // enginePath: the engine's program; an empty one is tunalo-engine beside this program.
    explicit RemoteBrowsers(QString enginePath = QString(), std::chrono::milliseconds grace = kGrace);
    // Lets the engine write its cookies and end.
    ~RemoteBrowsers() override;
    RemoteBrowsers(const RemoteBrowsers&) = delete;
    RemoteBrowsers& operator=(const RemoteBrowsers&) = delete;

    std::unique_ptr<Browser> createBrowser(QWidget* parent) override;

    // The engine process's id while it runs, 0 otherwise.
    qint64 enginePid() const;
    // How many engine processes were started so far.
    int engineStarts() const;

private:
    std::unique_ptr<EngineLink> m_link;
};

} // namespace tunalo
