#pragma once

#include "links.h"

#include <httplib.h>

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace tunalo::service::testkit {

// A folder under /tmp that is removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// build/bin/tunalo-service on a free loopback port with the given database (a SQLite file or a
// PostgreSQL address), its stderr in a new log file; killed when destroyed.
class ServiceProcess {
public:
    ServiceProcess(const std::string& database, std::filesystem::path log);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    int port() const { return m_port; }
    // Sends a signal and waits for the process to end; returns its wait status.
    int stop(int signal);

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

// Percent-encodes every byte outside the unreserved set, as the desktop program does.
using service::percentEncode;

// The text between <title> and </title>, or "(no title)".
std::string titleOf(const std::string& html);

// The id in a "Posted ID:n" title, or -1.
long long postedId(const std::string& title);

// An HTTP client that keeps the session cookie like a browser and does not follow redirects.
class Visitor {
public:
    explicit Visitor(int port);

    httplib::Result get(const std::string& target);
    httplib::Result post(const std::string& path, const httplib::Params& form);
    // GET and the page title, or "(request failed)".
    std::string title(const std::string& target);

    std::string& cookie() { return m_cookie; }

    // Creates the account and logs in with it (the service logs a new account in).
    bool signUp(const std::string& name, const std::string& password);
    bool logIn(const std::string& name, const std::string& password);
    // Posts a song the way the desktop program does; returns the page title.
    std::string postSong(const std::string& song, const std::string& deleteId = {});

private:
    void keepCookie(const httplib::Result& result);

    httplib::Client m_client;
    std::string m_cookie;
};

} // namespace tunalo::service::testkit
