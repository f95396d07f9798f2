#include "federation/peeraddress.h"

#include "base/text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <iterator>

namespace tunalo::service {

namespace asio = boost::asio;

namespace {

std::optional<unsigned short> portIn(std::string_view text)
{
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535)
        return std::nullopt;
    return static_cast<unsigned short>(value);
}

bool inV4(std::uint32_t address, std::uint32_t network, int bits)
{
    const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
    return (address & mask) == network;
}

bool isPublicV4(const asio::ip::address_v4& address)
{
    struct Net {
        std::uint32_t network;
        int bits;
    };
    static constexpr Net closed[] = {
        {0x00000000, 8},  // this network
        {0x0a000000, 8},  // private
        {0x64400000, 10}, // shared, behind carrier-grade NAT
        {0x7f000000, 8},  // loopback
        {0xa9fe0000, 16}, // link-local
        {0xac100000, 12}, // private
        {0xc0000000, 24}, // protocol assignments
        {0xc0000200, 24}, // documentation
        {0xc0a80000, 16}, // private
        {0xc6120000, 15}, // benchmarking
        {0xc6336400, 24}, // documentation
        {0xcb007100, 24}, // documentation
        {0xe0000000, 4},  // multicast
        {0xf0000000, 4},  // reserved, the broadcast address among them
    };
    const auto value = address.to_uint();
    return std::none_of(std::begin(closed), std::end(closed),
                        [value](const Net& net) { return inV4(value, net.network, net.bits); });
}

bool startsWith(const asio::ip::address_v6::bytes_type& bytes, std::initializer_list<unsigned char> prefix,
                int bits)
{
    int index = 0;
    for (const auto byte : prefix) {
        const int take = std::min(8, bits - index * 8);
        if (take <= 0)
            break;
        const auto mask = static_cast<unsigned char>(0xff << (8 - take));
        if ((bytes[static_cast<std::size_t>(index)] & mask) != (byte & mask))
            return false;
        ++index;
    }
    return true;
}

asio::ip::address_v4 lastFourBytes(const asio::ip::address_v6::bytes_type& bytes)
{
    return asio::ip::address_v4({bytes[12], bytes[13], bytes[14], bytes[15]});
}

bool isPublicV6(const asio::ip::address_v6& address)
{
    const auto bytes = address.to_bytes();
    if (address.is_v4_mapped() || startsWith(bytes, {0, 0x64, 0xff, 0x9b, 0, 0, 0, 0, 0, 0, 0, 0}, 96))
        return isPublicV4(lastFourBytes(bytes)); // an IPv4 address in other clothes
    return !(startsWith(bytes, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 96) || // unspecified, loopback, old IPv4
             startsWith(bytes, {0xfe, 0x80}, 10) ||                         // link-local
             startsWith(bytes, {0xfe, 0xc0}, 10) ||                         // site-local, retired
             startsWith(bytes, {0xfc}, 7) ||                                // unique local
             startsWith(bytes, {0xff}, 8) ||                                // multicast
             startsWith(bytes, {0x20, 0x01, 0x0d, 0xb8}, 32));              // documentation
}

} // namespace

std::optional<PeerUrl> parsePeerUrl(std::string_view text)
{
    if (std::any_of(text.begin(), text.end(), [](unsigned char c) { return c <= ' ' || c >= 0x7f; }))
        return std::nullopt;
    text = text.substr(0, text.find('#'));
    const auto schemeEnd = text.find("://");
    if (schemeEnd == std::string_view::npos)
        return std::nullopt;
    PeerUrl url;
    const auto scheme = asciiLower(text.substr(0, schemeEnd));
    if (scheme != "https" && scheme != "http")
        return std::nullopt;
    url.tls = scheme == "https";
    url.port = url.tls ? 443 : 80;
    const auto rest = text.substr(schemeEnd + 3);
    const auto authorityEnd = rest.find_first_of("/?");
    auto authority = rest.substr(0, authorityEnd);
    url.target = authorityEnd == std::string_view::npos ? "/" : std::string(rest.substr(authorityEnd));
    if (url.target.starts_with('?'))
        url.target.insert(url.target.begin(), '/');
    if (authority.find('@') != std::string_view::npos)
        return std::nullopt; // a name and password in the address go to nobody
    std::string_view port;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        url.host = asciiLower(authority.substr(1, close - 1));
        const auto after = authority.substr(close + 1);
        if (!after.empty() && !after.starts_with(':'))
            return std::nullopt;
        port = after.empty() ? after : after.substr(1);
        boost::system::error_code ec;
        asio::ip::make_address_v6(url.host, ec);
        if (ec)
            return std::nullopt;
    } else {
        const auto colon = authority.find(':');
        url.host = asciiLower(authority.substr(0, colon));
        if (colon != std::string_view::npos)
            port = authority.substr(colon + 1);
        if (url.host.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789.-_") != std::string::npos)
            return std::nullopt;
    }
    if (url.host.empty())
        return std::nullopt;
    if (!port.empty() || authority.ends_with(':')) {
        const auto number = portIn(port);
        if (!number)
            return std::nullopt;
        url.port = *number;
    }
    return url;
}

std::optional<PeerUrl> resolveLocation(const PeerUrl& base, std::string_view location)
{
    if (location.find("://") != std::string_view::npos)
        return parsePeerUrl(location);
    const std::string scheme = base.tls ? "https:" : "http:";
    if (location.starts_with("//"))
        return parsePeerUrl(scheme + std::string(location));
    auto path = base.target.substr(0, base.target.find('?'));
    std::string target;
    if (location.starts_with('/'))
        target = location;
    else if (location.starts_with('?'))
        target = path + std::string(location);
    else
        target = path.substr(0, path.rfind('/') + 1) + std::string(location);
    return parsePeerUrl(scheme + "//" + base.hostHeader() + target);
}

bool isPublicAddress(const asio::ip::address& address)
{
    return address.is_v4() ? isPublicV4(address.to_v4()) : isPublicV6(address.to_v6());
}

} // namespace tunalo::service
