#include "options.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace tunalo::service {

namespace {

void parseListen(const std::string& value, Options& options)
{
    const auto colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == value.size())
        throw std::invalid_argument("--listen wants HOST:PORT, got '" + value + "'");
    std::string host = value.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const auto portText = value.substr(colon + 1);
    std::size_t used = 0;
    int port = -1;
    try {
        port = std::stoi(portText, &used);
    } catch (const std::exception&) {
    }
    if (used != portText.size() || port < 0 || port > 65535)
        throw std::invalid_argument("--listen: '" + portText + "' is not a port number");
    options.host = host;
    options.port = port;
}

void parsePublicUrl(const std::string& value, Options& options)
{
    const bool known = value.starts_with("https://") || value.starts_with("http://");
    const auto host = value.substr(value.find("://") + 3);
    if (!known || host.empty() || host.find_first_of("/?#@ ") != std::string::npos)
        throw std::invalid_argument("--public-url wants http(s)://HOST[:PORT] without a path, got '" + value +
                                    "'");
    options.publicUrl = value;
}

} // namespace

std::string usage()
{
    return "Usage: tunalo-service [--listen HOST:PORT] [--db PATH|postgresql://...] [--public-url URL]\n"
           "                      [--log FILE] [--allow-private-peers]\n"
           "The reference web service of Tunalo: accounts, posted songs and a feed.\n\n"
           "  --listen HOST:PORT  address to listen on (default 127.0.0.1:8631; port 0 picks a free one)\n"
           "  --db PATH           SQLite database file (default $XDG_DATA_HOME/tunalo/service.db,\n"
           "                      that is ~/.local/share/tunalo/service.db)\n"
           "  --db postgresql://USER@HOST:PORT/DB\n"
           "                      a PostgreSQL database (a libpq connection address), which several\n"
           "                      instances of the service can share\n"
           "  --public-url URL    the https://HOST[:PORT] a TLS proxy in front of the service answers\n"
           "                      on; session cookies become Secure and the proxy's X-Forwarded-For\n"
           "                      names the client; with it, every person is an account that people\n"
           "                      on the fediverse can follow (@NAME@HOST)\n"
           "  --log FILE          write the log to FILE instead of stderr; SIGHUP opens it again\n"
           "                      (after logrotate has moved it)\n"
           "  --allow-private-peers\n"
           "                      let the service reach other servers on loopback and private\n"
           "                      addresses and over plain http (tests and closed networks only)\n"
           "  --help              show this text\n";
}

Options parseOptions(const std::vector<std::string>& args)
{
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto& arg = args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw std::invalid_argument(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--help" || arg == "-h")
            options.help = true;
        else if (arg == "--listen")
            parseListen(value(), options);
        else if (arg == "--public-url")
            parsePublicUrl(value(), options);
        else if (arg == "--db")
            options.databasePath = value();
        else if (arg == "--log")
            options.logFile = value();
        else if (arg == "--allow-private-peers")
            options.allowPrivatePeers = true;
        else
            throw std::invalid_argument("unknown option '" + arg + "'");
    }
    return options;
}

std::string defaultDatabasePath()
{
    namespace fs = std::filesystem;
    fs::path base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        base = data;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = fs::path(home) / ".local" / "share";
    else
        throw std::runtime_error("neither XDG_DATA_HOME nor HOME is set; give --db");
    const auto folder = base / "tunalo";
    fs::create_directories(folder);
    return (folder / "service.db").string();
}

std::string listeningAddress(const std::string& host, int port)
{
    const bool ipv6 = host.find(':') != std::string::npos;
    return "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string withoutPassword(const std::string& address)
{
    const auto scheme = address.find("://");
    if (scheme == std::string::npos)
        return address;
    const auto start = scheme + 3;
    const auto authority = address.substr(start, address.find_first_of("/?", start) - start);
    const auto at = authority.rfind('@');
    const auto colon = authority.find(':');
    if (at == std::string::npos || colon == std::string::npos || colon > at)
        return address;
    return address.substr(0, start + colon + 1) + "***" + address.substr(start + at);
}

} // namespace tunalo::service
