#pragma once

#include "platform/browser.h"

#include <QString>
#include <QTimer>

#include <memory>

class QWebEngineProfile;

namespace tunalo {

// Browsers on Qt WebEngine. They share one named, persistent profile in the user's data folder,
// so cookies (a Facebook log-in among them) are common to all of them and last across runs.
// Making the factory touches nothing: the engine and the profile come with the first browser,
// so a second instance, which ends before any form exists, never opens the profile.
class WebEngineBrowsers : public BrowserFactory {
public:
    WebEngineBrowsers();
    // The profile goes last, after every browser made here.
    ~WebEngineBrowsers() override;
    WebEngineBrowsers(const WebEngineBrowsers&) = delete;
    WebEngineBrowsers& operator=(const WebEngineBrowsers&) = delete;

    std::unique_ptr<Browser> createBrowser(QWidget* parent) override;

    // The shared profile, or null before the first browser.
    QWebEngineProfile* profile() const { return m_profile.get(); }
    // Where the profile keeps its cookies and other persistent data.
    static QString storageFolder();

private:
    QWebEngineProfile& sharedProfile();

    std::unique_ptr<QWebEngineProfile> m_profile;
    // Hands the memory that sleeping pages freed back to the system, a while after the last fell asleep.
    QTimer m_heapTrim;
};

// Call before the application object exists. Leaves OpenGL out of the program: the pages are drawn
// by the CPU (see prepareWebEngineEnvironment), so a GL driver would only take memory. Qt's and the
// engine's notes that they found no OpenGL stay off stderr. Switches the engine's sandbox off for
// root, where it cannot run.
//
// What this and prepareWebEngineEnvironment put into the environment is for Qt and the engine
// alone: once the engine has started with the first browser, each variable is back as the user had
// it (unset, or the user's value), so the programs Tunalo starts keep their own settings.
void prepareWebEngineApplication();

// Sets what the engine reads when it starts, with the first browser: no GPU process, which a few
// small pages do not need and which fails on virtual displays; pages drawn by Qt Quick's software
// renderer; one renderer process for the one site that both browsers show. Adds to flags the user
// set.
void prepareWebEngineEnvironment();

} // namespace tunalo
