#include "site/validators.h"

#include "base/text.h"

#include <sodium.h>

#include <ctime>

namespace tunalo::service {

namespace {

constexpr const char* httpDateFormat = "%a, %d %b %Y %H:%M:%S GMT";

std::string etagOf(const std::string& body)
{
    unsigned char hash[16];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(body.data()), body.size(),
                       nullptr, 0);
    char hex[sizeof hash * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
    std::string tag = "\"";
    tag += hex;
    tag += '"';
    return tag;
}

// If-None-Match: "*" or a list of tags; weak tags compare by their value.
bool anyTagMatches(std::string_view header, std::string_view etag)
{
    while (!header.empty()) {
        const auto comma = header.find(',');
        auto tag = header.substr(0, comma);
        header = comma == std::string_view::npos ? std::string_view{} : header.substr(comma + 1);
        while (!tag.empty() && (tag.front() == ' ' || tag.front() == '\t'))
            tag.remove_prefix(1);
        while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\t'))
            tag.remove_suffix(1);
        if (tag.starts_with("W/"))
            tag.remove_prefix(2);
        if (tag == "*" || tag == etag)
            return true;
    }
    return false;
}

} // namespace

std::string httpDate(std::int64_t seconds)
{
    return utcTime(seconds, httpDateFormat);
}

std::optional<std::int64_t> parseHttpDate(const std::string& text)
{
    std::tm utc{};
    const char* end = ::strptime(text.c_str(), httpDateFormat, &utc);
    if (!end || *end != '\0')
        return std::nullopt;
    return static_cast<std::int64_t>(::timegm(&utc));
}

void answerUnlessUnchanged(const Request& request, Response& response, std::optional<std::int64_t> modified)
{
    const auto etag = etagOf(response.body());
    response.set(http::field::etag, etag);
    if (modified)
        response.set(http::field::last_modified, httpDate(*modified));
    bool unchanged = false;
    if (request.count(http::field::if_none_match) > 0) {
        unchanged = anyTagMatches(request[http::field::if_none_match], etag);
    } else if (modified && request.count(http::field::if_modified_since) > 0) {
        const auto since = parseHttpDate(std::string(request[http::field::if_modified_since]));
        unchanged = since && *modified <= *since;
    }
    if (unchanged) {
        response.result(http::status::not_modified);
        response.body().clear();
        response.erase(http::field::content_type);
    }
}

} // namespace tunalo::service
