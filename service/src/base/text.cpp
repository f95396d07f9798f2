#include "base/text.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uspoof.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <ctime>
#include <memory>

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

namespace {

// ICU repairs ill-formed UTF-8 as it reads it: each maximal ill-formed piece becomes U+FFFD.
icu::UnicodeString fromUtf8(std::string_view text)
{
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text)
{
    std::string out;
    text.toUTF8String(out);
    return out;
}

bool isControl(UChar32 c)
{
    return u_charType(c) == U_CONTROL_CHAR;
}

// Characters a person cannot see: format characters (bidi overrides, zero-width joiners),
// default-ignorable code points and unassigned ones.
bool isInvisible(UChar32 c)
{
    const auto type = u_charType(c);
    return type == U_FORMAT_CHAR || type == U_UNASSIGNED || type == U_PRIVATE_USE_CHAR ||
           u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT);
}

bool isLetterOrDigit(UChar32 c)
{
    return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_ND_MASK)) != 0;
}

bool isNameChar(UChar32 c)
{
    return isLetterOrDigit(c) || (U_GET_GC_MASK(c) & U_GC_M_MASK) != 0 || c == '.' || c == '_' || c == '-';
}

using Checker = std::unique_ptr<USpoofChecker, decltype(&uspoof_close)>;

// ICU's normalizer and spoof checker are made once (prepareText at start makes them before any
// request thread runs) and then only read, which is safe from several threads at once.
const Checker& spoofChecker()
{
    static const Checker checker = [] {
        UErrorCode status = U_ZERO_ERROR;
        Checker made(uspoof_open(&status), uspoof_close);
        uspoof_setChecks(made.get(), USPOOF_RESTRICTION_LEVEL | USPOOF_MIXED_NUMBERS, &status);
        uspoof_setRestrictionLevel(made.get(), USPOOF_HIGHLY_RESTRICTIVE);
        return U_SUCCESS(status) ? std::move(made) : Checker(nullptr, uspoof_close);
    }();
    return checker;
}

const icu::Normalizer2* nfkcCasefold()
{
    static const icu::Normalizer2* const folding = [] {
        UErrorCode status = U_ZERO_ERROR;
        const auto* made = icu::Normalizer2::getNFKCCasefoldInstance(status);
        return U_SUCCESS(status) ? made : nullptr;
    }();
    return folding;
}

// One script per name, as a careful registrar would have it: "Аnn" with a Cyrillic А is refused.
bool singleScript(const icu::UnicodeString& name)
{
    const auto& checker = spoofChecker();
    UErrorCode status = U_ZERO_ERROR;
    return checker && uspoof_check2UnicodeString(checker.get(), name, nullptr, &status) == 0 &&
           U_SUCCESS(status);
}

} // namespace

void prepareText()
{
    nfkcCasefold();
    spoofChecker();
}

std::string cleanText(std::string_view text, std::size_t maxChars)
{
    const auto in = fromUtf8(text);
    icu::UnicodeString out;
    std::size_t chars = 0;
    for (std::int32_t i = 0; i < in.length() && chars < maxChars; i = in.moveIndex32(i, 1), ++chars) {
        const UChar32 c = in.char32At(i);
        out.append(isControl(c) ? UChar32(' ') : c);
    }
    return toUtf8(out);
}

bool isBlank(std::string_view text)
{
    const auto in = fromUtf8(text);
    for (std::int32_t i = 0; i < in.length(); i = in.moveIndex32(i, 1)) {
        const UChar32 c = in.char32At(i);
        if (!u_isUWhiteSpace(c) && !isControl(c) && !isInvisible(c))
            return false;
    }
    return true;
}

bool validName(std::string_view name, std::size_t maxChars)
{
    const auto in = fromUtf8(name);
    if (toUtf8(in) != name)
        return false; // ill-formed UTF-8
    const auto chars = static_cast<std::size_t>(in.countChar32());
    if (chars == 0 || chars > maxChars || !isLetterOrDigit(in.char32At(0)))
        return false;
    for (std::int32_t i = 0; i < in.length(); i = in.moveIndex32(i, 1)) {
        const UChar32 c = in.char32At(i);
        if (!isNameChar(c) || isInvisible(c))
            return false;
    }
    return singleScript(in);
}

std::string nameKey(std::string_view name)
{
    const auto in = fromUtf8(name);
    if (toUtf8(in) != name)
        return {};
    const auto* folding = nfkcCasefold();
    if (!folding)
        return {};
    UErrorCode status = U_ZERO_ERROR;
    const auto key = folding->normalize(in, status);
    return U_SUCCESS(status) ? toUtf8(key) : std::string{};
}

std::string hexEscape(std::string_view text, bool (*keep)(unsigned char), std::string_view prefix,
                      std::string_view digits)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (keep(u)) {
            out += c;
        } else {
            out += prefix;
            out += digits[u >> 4];
            out += digits[u & 0xF];
        }
    }
    return out;
}

std::string utcTime(std::int64_t seconds, const char* format)
{
    const auto t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[64];
    std::strftime(text, sizeof text, format, &utc);
    return text;
}

std::string asciiLower(std::string_view text)
{
    std::string out(text);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
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

std::optional<std::int64_t> integerIn(std::string_view text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace tunalo::service
