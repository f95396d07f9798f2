#include "site/atom.h"

#include "base/links.h"
#include "base/text.h"

namespace tunalo::service {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

void element(std::string& xml, std::string_view name, std::string_view text)
{
    xml += '<';
    xml += name;
    xml += '>';
    xml += xmlEscape(text);
    xml += "</";
    xml += name;
    xml += ">\n";
}

void link(std::string& xml, std::string_view rel, std::string_view type, std::string_view href)
{
    xml += "<link rel=\"" + std::string(rel) + "\" type=\"" + std::string(type) + "\" href=\"" +
           xmlEscape(href) + "\"/>\n";
}

} // namespace

std::string xmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (c == '\'')
            out += "&apos;";
        else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            out += replacement;
        else if (text.substr(i, 3) == "\xEF\xBF\xBE" || text.substr(i, 3) == "\xEF\xBF\xBF") {
            out += replacement; // U+FFFE and U+FFFF are no characters
            i += 2;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

std::string personAtom(const User& person, const std::vector<Post>& posts, std::string_view site)
{
    const auto page = std::string(site) + personPath(person.name);
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">\n";
    element(xml, "id", page);
    element(xml, "title", person.name + " on Tunalo");
    element(xml, "subtitle", "The songs " + person.name + " listens to");
    // The feed changes when a post comes; with none yet, it has not changed since the epoch.
    element(xml, "updated", utcTime(posts.empty() ? 0 : posts.front().postedAt, rfc3339));
    xml += "<author>";
    element(xml, "name", person.name);
    xml += "</author>\n";
    link(xml, "self", "application/atom+xml", std::string(site) + personFeedPath(person.name));
    link(xml, "alternate", "text/html", page);
    for (const auto& post : posts) {
        const auto anchor = page + "#post-" + std::to_string(post.id);
        xml += "<entry>\n";
        element(xml, "id", anchor);
        element(xml, "title", post.song);
        element(xml, "updated", utcTime(post.postedAt, rfc3339));
        link(xml, "alternate", "text/html", anchor);
        xml += "</entry>\n";
    }
    return xml + "</feed>\n";
}

} // namespace tunalo::service
