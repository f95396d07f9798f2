#pragma once

#include <boost/asio/ip/address.hpp>

#include <optional>
#include <string>
#include <string_view>

// The peer client's rules for addresses: how a web address is read, and which addresses a server
// on the internet may have. The exchange itself is in peerclient.cpp.
namespace tunalo::service {

// An address split into what a connection needs.
struct PeerUrl {
    bool tls = true;
    std::string host; // lower case, IPv6 without its brackets
    unsigned short port = 443;
    std::string target; // path and query

    bool ipv6() const { return host.find(':') != std::string::npos; }
    std::string hostHeader() const
    {
        const auto name = ipv6() ? "[" + host + "]" : host;
        return port == (tls ? 443 : 80) ? name : name + ":" + std::to_string(port);
    }
    // Requests to one host and port share its few places.
    std::string key() const { return hostHeader() + (tls ? "" : " http"); }
};

// Only the addresses a request line can carry as they are: no spaces, no control characters,
// nothing that would end the line early; https:// and http:// only, no name and password. The
// fragment is the reader's and never sent.
std::optional<PeerUrl> parsePeerUrl(std::string_view text);

// Where a Location header points, read against the address it came from.
std::optional<PeerUrl> resolveLocation(const PeerUrl& base, std::string_view location);

// Whether an address is one a server on the internet may have: not loopback, private (10/8,
// 172.16/12, 192.168/16, fc00::/7), link-local, shared (100.64/10), unspecified, multicast,
// broadcast or reserved, also when written as an IPv4-mapped IPv6 address.
bool isPublicAddress(const boost::asio::ip::address& address);

} // namespace tunalo::service
