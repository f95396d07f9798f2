#include "service.h"

#include "pages.h"
#include "serviceprotocol.h"
#include "text.h"

#include <cstdio>
#include <ctime>

namespace tunalo::service {

namespace {

constexpr const char* cookieName = "tunalo_session";
const std::string homePath(protocol::kHomePath);
constexpr std::size_t maxPasswordBytes = 1024;
constexpr std::size_t minPasswordChars = 8;

std::int64_t now()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

// Messages the log-in page shows after a redirect; the address carries only their key, so
// nothing a visitor writes into it reaches the page.
struct Message {
    std::string_view key;
    std::string_view text;
};
constexpr Message messages[] = {
    {"wrong", "Wrong name or password. Please try again."},
    {"limit", "Too many log-in attempts for this name. Please wait a minute and try again."},
    {"taken", "That name is taken. Please choose another one."},
    {"name", "Please choose a name of 1 to 40 characters."},
    {"short", "Please choose a password of at least 8 characters."},
    {"busy", "The service could not do that just now. Please try again."},
    {"out", "You are logged out."},
};

std::string_view messageFor(std::string_view key)
{
    for (const auto& message : messages)
        if (message.key == key)
            return message.text;
    return {};
}

void sendHtml(httplib::Response& res, const std::string& html)
{
    res.set_header("Cache-Control", "no-store");
    res.set_content(html, "text/html; charset=utf-8");
}

void redirectHome(httplib::Response& res, std::string_view messageKey = {})
{
    res.status = 303;
    std::string location = homePath;
    if (!messageKey.empty())
        location += "?m=" + std::string(messageKey);
    res.set_header("Location", location);
}

std::string cookieValue(const httplib::Request& req)
{
    const auto header = req.get_header_value("Cookie");
    const std::string wanted = std::string(cookieName) + "=";
    for (std::size_t start = 0; start < header.size();) {
        while (start < header.size() && header[start] == ' ')
            ++start;
        const auto end = std::min(header.find(';', start), header.size());
        if (header.compare(start, wanted.size(), wanted) == 0)
            return header.substr(start + wanted.size(), end - start - wanted.size());
        start = end + 1;
    }
    return {};
}

std::string trimBlanks(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The id of the post to delete: decimal digits, blanks around them allowed (the program may
// send a trailing blank). Anything else deletes nothing.
std::optional<std::int64_t> postIdFrom(const std::string& text)
{
    const auto digits = trimBlanks(text);
    if (digits.empty() || digits.size() > 18 || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoll(digits);
}

struct Credentials {
    std::string name;
    std::string password;
};

Credentials credentialsFrom(const httplib::Request& req)
{
    auto form = parseForm(req.body);
    return {trimBlanks(form["name"]), form["password"]};
}

bool validName(const std::string& name)
{
    return !name.empty() && countChars(name) <= Service::maxNameChars && cleanText(name, name.size()) == name;
}

} // namespace

void Service::install(GuardedServer& server)
{
    server.Get("/", [](const httplib::Request&, httplib::Response& res) { sendHtml(res, aboutPage()); });
    server.Get(homePath, [this](const auto& req, auto& res) { home(req, res); });
    server.Get(std::string(protocol::kPostPath), [this](const auto& req, auto& res) { update(req, res); });
    server.Post("/fb/login", [this](const auto& req, auto& res) { login(req, res); });
    server.Post("/fb/register", [this](const auto& req, auto& res) { registerAccount(req, res); });
    server.Post("/fb/logout", [this](const auto& req, auto& res) { logout(req, res); });
    server.Get("/fb/feed", [this](const httplib::Request&, httplib::Response& res) {
        sendHtml(res, feedPage(m_store.recentPosts(50)));
    });
    server.Get("/fb/feed.json", [this](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(feedJson(m_store.recentPosts(50)), "application/json");
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (const int refusal = GuardedServer::currentRefusal())
            res.status = refusal;
        if (res.body.empty())
            res.set_content(errorPage(res.status), "text/html; charset=utf-8");
    });
    server.set_exception_handler(
        [](const httplib::Request& req, httplib::Response& res, std::exception_ptr error) {
            std::string what = "unknown error";
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            std::fprintf(stderr, "tunalo-service: %s %s failed: %s\n", req.method.c_str(), req.path.c_str(),
                         what.c_str());
            res.status = 500;
            res.set_content(errorPage(500), "text/html; charset=utf-8");
        });
}

std::optional<User> Service::sessionUser(const httplib::Request& req)
{
    const auto token = hashCookieValue(cookieValue(req));
    return token ? m_store.sessionUser(*token, now()) : std::nullopt;
}

void Service::home(const httplib::Request& req, httplib::Response& res)
{
    if (const auto user = sessionUser(req))
        return sendHtml(res, loggedInPage(*user, m_store.recentPosts(20, user->id)));
    const auto query = parseQuery(req.target);
    const auto key = query.find("m");
    sendHtml(res, loggedOutPage(key == query.end() ? std::string_view{} : messageFor(key->second)));
}

void Service::update(const httplib::Request& req, httplib::Response& res)
{
    const auto user = sessionUser(req);
    if (!user)
        return sendHtml(res, notPostedPage(failedTitle, "You are not logged in; nothing was posted."));
    auto query = parseQuery(req.target);
    const auto song = cleanText(query["s"], maxSongChars);
    if (song.empty())
        return sendHtml(res, notPostedPage("Nothing posted", "There was no song to post."));
    sendHtml(res, postedPage(m_store.addPost(user->id, song, postIdFrom(query["d"]), now())));
}

void Service::startSession(const User& user, httplib::Response& res)
{
    const auto token = newSessionToken();
    const auto start = now();
    m_store.addSession(token.hash, user.id, start, start + sessionSeconds);
    res.set_header("Set-Cookie", std::string(cookieName) + "=" + token.cookieValue + "; Max-Age=" +
                                     std::to_string(sessionSeconds) + "; Path=/; HttpOnly; SameSite=Lax");
}

void Service::login(const httplib::Request& req, httplib::Response& res)
{
    const auto credentials = credentialsFrom(req);
    if (!m_attempts.allow(credentials.name))
        return redirectHome(res, "limit");
    const auto account = m_store.findAccount(credentials.name);
    const auto stored = account ? std::optional(account->passwordHash) : std::nullopt;
    if (!m_hasher.verify(stored, credentials.password.substr(0, maxPasswordBytes)))
        return redirectHome(res, "wrong");
    startSession(account->user, res);
    redirectHome(res);
}

void Service::registerAccount(const httplib::Request& req, httplib::Response& res)
{
    const auto credentials = credentialsFrom(req);
    if (!validName(credentials.name))
        return redirectHome(res, "name");
    if (countChars(credentials.password) < minPasswordChars)
        return redirectHome(res, "short");
    if (m_store.findAccount(credentials.name))
        return redirectHome(res, "taken");
    const auto hash = m_hasher.hash(credentials.password.substr(0, maxPasswordBytes));
    if (!hash)
        return redirectHome(res, "busy");
    const auto user = m_store.createUser(credentials.name, *hash, now());
    if (!user)
        return redirectHome(res, "taken");
    startSession(*user, res);
    redirectHome(res);
}

void Service::logout(const httplib::Request& req, httplib::Response& res)
{
    if (const auto token = hashCookieValue(cookieValue(req)))
        m_store.removeSession(*token);
    res.set_header("Set-Cookie", std::string(cookieName) + "=; Max-Age=0; Path=/; HttpOnly; SameSite=Lax");
    redirectHome(res, "out");
}

} // namespace tunalo::service
