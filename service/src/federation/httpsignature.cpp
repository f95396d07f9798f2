#include "federation/httpsignature.h"

#include "base/text.h"
#include "federation/keys.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <set>

namespace tunalo::service {

namespace {

using std::chrono::system_clock;

constexpr auto dateTolerance = std::chrono::hours(12);
constexpr std::string_view requestTarget = "(request-target)";
constexpr std::array<std::string_view, 7> dayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> monthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && asciiLower(a) == asciiLower(b);
}

// Reads the Signature header's pairs, key="value", separated by commas, one at a time.
class PairReader {
public:
    explicit PairReader(std::string_view text) : m_text(text) { skipBlanks(); }

    bool atEnd() const { return m_at == m_text.size(); }

    // The next pair; empty when the text is not a pair at this point.
    std::optional<std::pair<std::string_view, std::string_view>> next()
    {
        const std::size_t keyStart = m_at;
        while (m_at < m_text.size() && m_text[m_at] != '=' && m_text[m_at] != ',' && !isBlank(m_text[m_at]))
            ++m_at;
        const std::string_view key = m_text.substr(keyStart, m_at - keyStart);
        skipBlanks();
        if (key.empty() || !take('='))
            return std::nullopt;
        skipBlanks();
        if (!take('"'))
            return std::nullopt;
        const std::size_t close = m_text.find('"', m_at);
        if (close == std::string_view::npos)
            return std::nullopt;
        const std::string_view value = m_text.substr(m_at, close - m_at);
        m_at = close + 1;
        skipBlanks();
        // A comma promises another pair; the end of the text ends the list.
        if (take(','))
            skipBlanks();
        else if (!atEnd())
            return std::nullopt;
        else
            m_finished = true;
        return std::pair{key, value};
    }

    bool finished() const { return m_finished; }

private:
    void skipBlanks()
    {
        while (m_at < m_text.size() && isBlank(m_text[m_at]))
            ++m_at;
    }

    bool take(char c)
    {
        if (m_at == m_text.size() || m_text[m_at] != c)
            return false;
        ++m_at;
        return true;
    }

    std::string_view m_text;
    std::size_t m_at = 0;
    bool m_finished = false;
};

std::vector<std::string> headerNames(std::string_view list)
{
    std::vector<std::string> names;
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t end = std::min(list.find(' ', at), list.size());
        if (end > at)
            names.push_back(asciiLower(list.substr(at, end - at)));
        at = end + 1;
    }
    return names;
}

// All values of a header, joined as a proxy that folds repeated headers into one would join them.
std::optional<std::string> joinedField(const Request& request, std::string_view name)
{
    std::optional<std::string> joined;
    for (auto [field, end] = request.equal_range(name); field != end; ++field)
        joined = joined ? *joined + ", " + std::string(field->value()) : std::string(field->value());
    return joined;
}

bool covers(const std::vector<std::string>& headers, std::string_view name)
{
    return std::find(headers.begin(), headers.end(), name) != headers.end();
}

bool hasBody(const Request& request)
{
    return request.method() == http::verb::post || !request.body().empty();
}

// Digest may name several algorithms ("SHA-256=...,SHA-512=..."); the SHA-256 one must be there
// and match, whatever the others say.
bool digestMatches(const Request& request)
{
    const auto digest = joinedField(request, "digest");
    if (!digest)
        return false;
    const std::string expected = sha256Base64(request.body());
    bool found = false;
    std::string_view rest = *digest;
    while (!rest.empty()) {
        const std::size_t comma = std::min(rest.find(','), rest.size());
        const std::string_view item = trim(rest.substr(0, comma));
        rest.remove_prefix(std::min(comma + 1, rest.size()));
        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos || !equalsIgnoringCase(trim(item.substr(0, equals)), "SHA-256"))
            continue;
        if (trim(item.substr(equals + 1)) != expected)
            return false;
        found = true;
    }
    return found;
}

bool fresh(const Request& request, system_clock::time_point now)
{
    const auto date = joinedField(request, "date");
    const auto when = date ? parseHttpDate(*date) : std::nullopt;
    return when && *when <= now + dateTolerance && *when >= now - dateTolerance;
}

// Exactly count digits at text[at], as a number; -1 when they are not all digits.
int digits(std::string_view text, std::size_t at, std::size_t count)
{
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i])))
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

template <std::size_t N> int indexOf(const std::array<std::string_view, N>& names, std::string_view name)
{
    const auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? -1 : static_cast<int>(found - names.begin());
}

// RFC 9421's signatures are Structured Fields (RFC 8941): Signature-Input a dictionary of inner
// lists with parameters, Signature a dictionary of byte sequences. This reads as much of that
// grammar as they use, one member at a time, and keeps each member's text as sent, since the
// signature base repeats it.
class FieldReader {
public:
    explicit FieldReader(std::string_view text) : m_text(text) { skip(); }

    bool atEnd() const { return m_at == m_text.size(); }
    std::size_t at() const { return m_at; }
    std::string_view text(std::size_t from) const { return m_text.substr(from, m_at - from); }

    // A key: a lower-case letter or "*", then lower-case letters, digits, "_", "-", "." or "*".
    std::optional<std::string_view> key()
    {
        const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
        const std::size_t start = m_at;
        if (m_at == m_text.size() || !(lower(m_text[m_at]) || m_text[m_at] == '*'))
            return std::nullopt;
        ++m_at;
        while (m_at < m_text.size() &&
               (lower(m_text[m_at]) || (m_text[m_at] >= '0' && m_text[m_at] <= '9') ||
                std::string_view("_-.*").find(m_text[m_at]) != std::string_view::npos))
            ++m_at;
        return m_text.substr(start, m_at - start);
    }

    std::optional<std::string> string()
    {
        if (!take('"'))
            return std::nullopt;
        std::string out;
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"')
                return out;
            if (c == '\\') {
                if (m_at == m_text.size() || (m_text[m_at] != '"' && m_text[m_at] != '\\'))
                    return std::nullopt;
                out += m_text[m_at++];
            } else if (c < 0x20 || c > 0x7e) {
                return std::nullopt;
            } else {
                out += c;
            }
        }
        return std::nullopt;
    }

    // A bare item as text: a string's content, an integer's digits, a token, a byte sequence's
    // base64 (between its colons), or "?1"/"?0".
    std::optional<std::string> item()
    {
        if (m_at == m_text.size())
            return std::nullopt;
        if (m_text[m_at] == '"')
            return string();
        const char c = m_text[m_at];
        const std::size_t start = m_at;
        if (take(':')) {
            const auto close = m_text.find(':', m_at);
            if (close == std::string_view::npos)
                return std::nullopt;
            m_at = close + 1;
            return std::string(m_text.substr(start + 1, close - start - 1));
        }
        if (c == '?' || c == '-' || std::isalnum(static_cast<unsigned char>(c)) || c == '*') {
            ++m_at;
            while (m_at < m_text.size() && !isBlank(m_text[m_at]) &&
                   std::string_view(";,()=\"").find(m_text[m_at]) == std::string_view::npos)
                ++m_at;
            return std::string(m_text.substr(start, m_at - start));
        }
        return std::nullopt;
    }

    // ";name" or ";name=item", as many as follow; none when one is malformed.
    std::optional<std::vector<std::pair<std::string, std::string>>> parameters()
    {
        std::vector<std::pair<std::string, std::string>> out;
        while (take(';')) {
            skip();
            const auto name = key();
            if (!name)
                return std::nullopt;
            std::optional<std::string> value = "?1";
            if (take('=') && !(value = item()))
                return std::nullopt;
            out.emplace_back(*name, *value);
        }
        return out;
    }

    bool take(char c)
    {
        if (!startsWith(c))
            return false;
        ++m_at;
        return true;
    }

    bool startsWith(char c) const { return m_at < m_text.size() && m_text[m_at] == c; }

    void skip()
    {
        while (m_at < m_text.size() && isBlank(m_text[m_at]))
            ++m_at;
    }

    // After a member: the end, or a comma and another member.
    bool nextMember()
    {
        skip();
        if (atEnd())
            return true;
        if (!take(','))
            return false;
        skip();
        return !atEnd();
    }

private:
    std::string_view m_text;
    std::size_t m_at = 0;
};

// One signature of Signature-Input: its label, the components it covers (their names; a
// component with parameters of its own is not supported and makes the member unreadable), its
// parameters, and its text after "label=", which the signature base ends with.
struct SignatureInput {
    std::string label;
    std::vector<std::string> components;
    std::vector<std::pair<std::string, std::string>> parameters;
    std::string text;

    std::optional<std::string> parameter(std::string_view name) const
    {
        for (const auto& [key, value] : parameters)
            if (key == name)
                return value;
        return std::nullopt;
    }
};

std::optional<std::vector<SignatureInput>> parseSignatureInput(std::string_view text)
{
    std::vector<SignatureInput> inputs;
    FieldReader reader(text);
    while (!reader.atEnd()) {
        SignatureInput input;
        const auto label = reader.key();
        if (!label || !reader.take('='))
            return std::nullopt;
        input.label = *label;
        const std::size_t start = reader.at();
        if (!reader.take('('))
            return std::nullopt;
        for (reader.skip(); !reader.take(')'); reader.skip()) {
            auto component = reader.string();
            const auto parameters = reader.parameters();
            if (!component || !parameters || !parameters->empty())
                return std::nullopt;
            input.components.push_back(std::move(*component));
        }
        auto parameters = reader.parameters();
        if (!parameters)
            return std::nullopt;
        input.parameters = std::move(*parameters);
        input.text = reader.text(start);
        inputs.push_back(std::move(input));
        if (!reader.nextMember())
            return std::nullopt;
    }
    return inputs;
}

// The byte sequence that Signature gives for a label, as base64.
std::optional<std::string> signatureFor(std::string_view text, std::string_view label)
{
    FieldReader reader(text);
    while (!reader.atEnd()) {
        const auto key = reader.key();
        if (!key || !reader.take('=') || !reader.startsWith(':'))
            return std::nullopt;
        auto value = reader.item();
        if (!value || !reader.parameters() || !reader.nextMember())
            return std::nullopt;
        if (*key == label)
            return value;
    }
    return std::nullopt;
}

// Content-Digest (RFC 9530) is a dictionary of algorithm=:digest:; the sha-256 one must be there and
// match the body, whatever the others say.
bool contentDigestMatches(const Request& request)
{
    const auto digest = joinedField(request, "content-digest");
    if (!digest)
        return false;
    const std::string expected = sha256Base64(request.body());
    bool found = false;
    FieldReader reader(*digest);
    while (!reader.atEnd()) {
        const auto algorithm = reader.key();
        if (!algorithm || !reader.take('='))
            return false;
        const auto value = reader.item();
        if (!value || !reader.parameters() || !reader.nextMember())
            return false;
        if (*algorithm != "sha-256")
            continue;
        if (*value != expected)
            return false;
        found = true;
    }
    return found;
}

// What a component stands for in the request as it arrived; none when it is missing or not
// supported. targetUri is the address the sender signed: the public site and the target.
std::optional<std::string> componentValue(const Request& request, std::string_view name,
                                          std::string_view targetUri)
{
    const auto scheme = targetUri.find("://");
    if (scheme == std::string_view::npos)
        return std::nullopt;
    const auto pathStart = targetUri.find('/', scheme + 3);
    const auto authority = targetUri.substr(scheme + 3, pathStart - scheme - 3);
    const auto pathAndQuery =
        pathStart == std::string_view::npos ? std::string_view("/") : targetUri.substr(pathStart);
    const auto question = pathAndQuery.find('?');
    if (name == "@method")
        return std::string(request.method_string());
    if (name == "@target-uri")
        return std::string(targetUri);
    if (name == "@authority")
        return asciiLower(authority);
    if (name == "@scheme")
        return asciiLower(targetUri.substr(0, scheme));
    if (name == "@request-target")
        return std::string(pathAndQuery);
    if (name == "@path")
        return std::string(pathAndQuery.substr(0, question));
    if (name == "@query")
        return question == std::string_view::npos ? std::string("?")
                                                  : std::string(pathAndQuery.substr(question));
    if (name.starts_with('@'))
        return std::nullopt;
    const auto value = joinedField(request, asciiLower(name));
    return value ? std::optional(std::string(trim(*value))) : std::nullopt;
}

Precheck precheckMessageSignature(const Request& request, system_clock::time_point now, std::string_view site)
{
    const auto inputs = parseSignatureInput(joinedField(request, "signature-input").value_or(""));
    const auto signatures = joinedField(request, "signature");
    if (!inputs || inputs->empty() || !signatures)
        return {SignatureCheck::malformed, std::nullopt};
    // The first signature is the sender's; others a proxy may have added are not ours to judge.
    const auto& input = inputs->front();
    SignatureHeader header;
    header.keyId = input.parameter("keyid").value_or("");
    header.algorithm = input.parameter("alg").value_or("");
    header.headers = input.components;
    const auto signature = signatureFor(*signatures, input.label);
    const auto created = input.parameter("created");
    if (header.keyId.empty() || !signature || signature->empty() || !created ||
        !(header.algorithm.empty() || header.algorithm == "rsa-v1_5-sha256"))
        return {SignatureCheck::malformed, std::nullopt};
    header.signature = *signature;
    const bool body = hasBody(request);
    for (const std::string_view name : {std::string_view("@method"), std::string_view("@target-uri")})
        if (!covers(header.headers, name))
            return {SignatureCheck::uncovered, std::nullopt};
    if (body && !covers(header.headers, "content-digest"))
        return {SignatureCheck::uncovered, std::nullopt};
    if ((body || request.count("content-digest") > 0) && !contentDigestMatches(request))
        return {SignatureCheck::badDigest, std::nullopt};
    // Compared in seconds: a time point made from any number a sender writes could overflow.
    const std::int64_t nowSeconds = system_clock::to_time_t(now);
    const std::int64_t tolerance = std::chrono::duration_cast<std::chrono::seconds>(dateTolerance).count();
    const auto createdAt = integerIn(*created);
    if (!createdAt || *createdAt < nowSeconds - tolerance || *createdAt > nowSeconds + tolerance)
        return {SignatureCheck::stale, std::nullopt};
    if (const auto expires = input.parameter("expires");
        expires && integerIn(*expires).value_or(0) < nowSeconds)
        return {SignatureCheck::stale, std::nullopt};
    const std::string target(request.target());
    const std::string targetUri =
        target.starts_with('/')
            ? (site.empty() ? "http://" + std::string(request[http::field::host]) : std::string(site)) +
                  target
            : target;
    for (const auto& name : header.headers) {
        const auto value = componentValue(request, name, targetUri);
        if (!value)
            return {SignatureCheck::uncovered, std::nullopt};
        header.base += "\"" + name + "\": " + *value + "\n";
    }
    header.base += "\"@signature-params\": " + input.text;
    return {SignatureCheck::ok, std::move(header)};
}

} // namespace

std::optional<SignatureHeader> parseSignatureHeader(std::string_view text)
{
    SignatureHeader header;
    std::optional<std::string_view> headers;
    std::set<std::string_view> seen;
    PairReader reader(text);
    while (!reader.finished()) {
        const auto pair = reader.next();
        if (!pair || !seen.insert(pair->first).second)
            return std::nullopt;
        const auto& [key, value] = *pair;
        if (key == "keyId")
            header.keyId = value;
        else if (key == "algorithm")
            header.algorithm = value;
        else if (key == "headers")
            headers = value;
        else if (key == "signature")
            header.signature = value;
    }
    header.headers = headerNames(headers.value_or(""));
    if (header.headers.empty())
        header.headers = {"date"};
    if (header.keyId.empty() || header.signature.empty())
        return std::nullopt;
    return header;
}

std::optional<std::string> signingString(const Request& request, const std::vector<std::string>& headers)
{
    std::string out;
    for (const auto& name : headers) {
        if (!out.empty())
            out += '\n';
        if (name == requestTarget) {
            out += name + ": " + asciiLower(request.method_string()) + " " + std::string(request.target());
            continue;
        }
        // Pseudo-headers other than (request-target), such as (created), need values from the
        // Signature header itself; they are not supported, so a signature over them is refused.
        const auto value = name.starts_with('(') ? std::nullopt : joinedField(request, name);
        if (!value)
            return std::nullopt;
        out += name + ": " + *value;
    }
    return out;
}

Precheck precheckSignature(const Request& request, system_clock::time_point now, std::string_view site)
{
    if (request.count("signature-input") > 0)
        return precheckMessageSignature(request, now, site);
    const auto text = joinedField(request, "signature");
    if (!text)
        return {SignatureCheck::missing, std::nullopt};
    auto header = parseSignatureHeader(*text);
    if (!header || !(header->algorithm.empty() || equalsIgnoringCase(header->algorithm, "rsa-sha256") ||
                     equalsIgnoringCase(header->algorithm, "hs2019")))
        return {SignatureCheck::malformed, std::nullopt};
    const bool body = hasBody(request);
    for (const std::string_view name : {requestTarget, std::string_view("host"), std::string_view("date")})
        if (!covers(header->headers, name))
            return {SignatureCheck::uncovered, std::nullopt};
    if (body && !covers(header->headers, "digest"))
        return {SignatureCheck::uncovered, std::nullopt};
    if ((body || request.count("digest") > 0) && !digestMatches(request))
        return {SignatureCheck::badDigest, std::nullopt};
    if (!fresh(request, now))
        return {SignatureCheck::stale, std::nullopt};
    return {SignatureCheck::ok, std::move(header)};
}

bool signatureHolds(const Request& request, const SignatureHeader& header, const std::string& publicPem)
{
    const auto text = header.base.empty() ? signingString(request, header.headers) : header.base;
    return text && verifySha256(publicPem, *text, header.signature);
}

namespace {

// Sets the Signature header over the named headers, each of which is set on the request already.
void addSignature(Request& request, std::string_view keyId, const std::string& privatePem,
                  const std::vector<std::string>& headers)
{
    std::string names;
    for (const auto& name : headers)
        names += (names.empty() ? "" : " ") + name;
    const std::string signature = signSha256(privatePem, signingString(request, headers).value());
    request.set("Signature", "keyId=\"" + std::string(keyId) + "\",algorithm=\"rsa-sha256\",headers=\"" +
                                 names + "\",signature=\"" + signature + "\"");
}

} // namespace

void signRequest(Request& request, std::string_view host, std::string_view keyId,
                 const std::string& privatePem, system_clock::time_point now)
{
    request.set(http::field::host, host);
    request.set(http::field::date, httpDate(now));
    request.set("Digest", "SHA-256=" + sha256Base64(request.body()));
    std::vector<std::string> headers = {std::string(requestTarget), "host", "date", "digest"};
    if (request.count(http::field::content_type) > 0)
        headers.emplace_back("content-type");
    addSignature(request, keyId, privatePem, headers);
}

void signFetch(Request& request, std::string_view host, std::string_view keyId, const std::string& privatePem,
               system_clock::time_point now)
{
    request.set(http::field::host, host);
    request.set(http::field::date, httpDate(now));
    addSignature(request, keyId, privatePem, {std::string(requestTarget), "host", "date"});
}

std::string httpDate(system_clock::time_point when)
{
    const std::time_t seconds = system_clock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    // Names from our own tables: strftime's would follow the process's locale.
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", dayNames[utc.tm_wday].data(),
                  utc.tm_mday, monthNames[utc.tm_mon].data(), utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                  utc.tm_sec);
    return text;
}

// IMF-fixdate only: the obsolete forms HTTP still allows are not what servers on the fediverse send.
std::optional<system_clock::time_point> parseHttpDate(std::string_view text)
{
    // "Sun, 06 Nov 1994 08:49:37 GMT"
    constexpr std::string_view shape = "Ddd, dd Mmm yyyy hh:mm:ss GMT";
    if (text.size() != shape.size() || indexOf(dayNames, text.substr(0, 3)) < 0 ||
        text.substr(3, 2) != ", " || text[7] != ' ' || text[11] != ' ' || text[16] != ' ' ||
        text[19] != ':' || text[22] != ':' || text.substr(25) != " GMT")
        return std::nullopt;
    std::tm utc{};
    utc.tm_mday = digits(text, 5, 2);
    utc.tm_mon = indexOf(monthNames, text.substr(8, 3));
    utc.tm_year = digits(text, 12, 4) - 1900;
    utc.tm_hour = digits(text, 17, 2);
    utc.tm_min = digits(text, 20, 2);
    utc.tm_sec = digits(text, 23, 2);
    if (utc.tm_mday < 1 || utc.tm_mon < 0 || utc.tm_year < -1900 || utc.tm_hour < 0 || utc.tm_hour > 23 ||
        utc.tm_min < 0 || utc.tm_min > 59 || utc.tm_sec < 0 || utc.tm_sec > 59)
        return std::nullopt;
    const std::tm asGiven = utc;
    const std::time_t seconds = timegm(&utc);
    // timegm carries 31 February into March; a day the month does not have is not a date.
    if (utc.tm_mday != asGiven.tm_mday || utc.tm_mon != asGiven.tm_mon)
        return std::nullopt;
    return system_clock::from_time_t(seconds);
}

} // namespace tunalo::service
