#include "text.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace tunalo::service {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Length of the well-formed UTF-8 sequence at the start of text, or 0 when it is not one.
std::size_t utf8SequenceLength(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const auto lead = byte(0);
    std::size_t length = 0;
    std::uint32_t codePoint = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    static constexpr std::array<std::uint32_t, 5> smallest{0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < smallest[length] || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

std::string percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

namespace {

std::map<std::string, std::string> parsePairs(std::string_view rest, bool plusIsBlank)
{
    std::map<std::string, std::string> query;
    const auto decode = [plusIsBlank](std::string_view text) {
        if (!plusIsBlank)
            return percentDecode(text);
        std::string blanked(text);
        std::replace(blanked.begin(), blanked.end(), '+', ' ');
        return percentDecode(blanked);
    };
    while (!rest.empty()) {
        const auto amp = rest.find('&');
        const auto pair = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view{} : rest.substr(amp + 1);
        if (pair.empty())
            continue;
        const auto equals = pair.find('=');
        const auto key = decode(pair.substr(0, equals));
        const auto value = equals == std::string_view::npos ? std::string{} : decode(pair.substr(equals + 1));
        query.emplace(key, value);
    }
    return query;
}

} // namespace

std::map<std::string, std::string> parseQuery(std::string_view target)
{
    const auto mark = target.find('?');
    if (mark == std::string_view::npos)
        return {};
    // A fragment never reaches a server, but a hand-made request may carry one.
    const auto rest = target.substr(mark + 1);
    return parsePairs(rest.substr(0, rest.find('#')), false);
}

std::map<std::string, std::string> parseForm(std::string_view body)
{
    return parsePairs(body, true);
}

std::size_t countChars(std::string_view text)
{
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<std::uint8_t>(c) & 0xC0) != 0x80; }));
}

std::string cleanText(std::string_view text, std::size_t maxChars)
{
    std::string out;
    out.reserve(std::min(text.size(), maxChars * 4));
    std::size_t chars = 0;
    while (!text.empty() && chars < maxChars) {
        const auto length = utf8SequenceLength(text);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            text.remove_prefix(1);
        } else {
            const auto c = static_cast<std::uint8_t>(text[0]);
            if (length == 1 && (c < 0x20 || c == 0x7F))
                out += ' ';
            else
                out.append(text.substr(0, length));
            text.remove_prefix(length);
        }
        ++chars;
    }
    return out;
}

std::string htmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string jsonEscape(std::string_view text)
{
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    for (const char c : text) {
        const auto u = static_cast<std::uint8_t>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 0xF];
        } else if (c == '<') {
            // Keeps the text inert if someone pastes the JSON into a page.
            out += "\\u003c";
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace tunalo::service
