#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tunalo::service {

struct Options {
    std::string host = "127.0.0.1";
    int port = 8631; // 0 picks a free port
    std::string databasePath;
    // The address people use when a TLS proxy stands in front, such as https://tunalo.example.org
    std::string publicUrl;
    std::string logFile; // empty: stderr
    // Lets the service reach other servers on loopback and private addresses and over plain http:
    // for tests and closed networks only.
    bool allowPrivatePeers = false;
    bool help = false;
};

// Throws std::invalid_argument with a message for the user on a bad command line.
Options parseOptions(const std::vector<std::string>& args);
std::string usage();
// ${XDG_DATA_HOME:-~/.local/share}/tunalo/service.db; creates the folder.
std::string defaultDatabasePath();
// http://HOST:PORT for the address the service listens on (an IPv6 host in brackets).
std::string listeningAddress(const std::string& host, int port);
// The database address as the log may show it: a password in it replaced by "***".
std::string withoutPassword(const std::string& address);

} // namespace tunalo::service
