// A bounded request mutator: starts the service built beside it (under AddressSanitizer in
// scripts/test --sanitize), sends it COUNT requests made by mutating well-formed ones, and fails
// when the service answers with anything but HTTP, stops answering, or its log holds a sanitizer's
// report. The same seed gives the same requests.
//
//     tunalo-service-fuzz [COUNT] [SEED]        (default 50000 requests, seed 1)
#include "serviceprocess.h"

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace tunalo::service::testkit;

namespace {

// Many at once: a log-in waits for its hash or for the wait that wrong passwords earn, not for a core.
constexpr int workers = 64;

const std::string form = "name=Ann&password=correct+horse";
const std::string formHead = "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                             std::to_string(form.size()) + "\r\n";

std::vector<std::string> loginSeeds()
{
    return {
        "POST /fb/login HTTP/1.1\r\nHost: x\r\n" + formHead + "\r\n" + form,
        "POST /fb/login HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n" + formHead + "\r\n" + form,
    };
}

std::vector<std::string> seeds(const std::string& cookie)
{
    return {
        "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
        "GET /fb/tnlouserhome.php?m=wrong HTTP/1.1\r\nHost: x\r\nCookie: " + cookie + "\r\n\r\n",
        "GET /fb/update.php?s=Artist%20-%20Song%20%E2%99%AB&d=12%20 HTTP/1.1\r\nHost: x\r\nCookie: " + cookie +
            "\r\nSec-Fetch-Site: none\r\n\r\n",
        "GET /fb/feed HTTP/1.1\r\nHost: x\r\nIf-None-Match: \"abc\", W/\"def\"\r\n\r\n",
        "GET /fb/feed.json HTTP/1.0\r\nIf-Modified-Since: Tue, 14 Nov 2023 22:13:20 GMT\r\n\r\n",
        "GET /fb/u/Ann.atom HTTP/1.1\r\nHost: tunalo.example:8631\r\n\r\n",
        "GET /fb/u/%C3%89lodie HTTP/1.1\r\nHost: [::1]:8631\r\n\r\n",
        "GET http://tunalo.example/fb/feed?x=1#y HTTP/1.1\r\n\r\n",
        "HEAD /fb/feed HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
        "POST /fb/register HTTP/1.1\r\nHost: x\r\nOrigin: null\r\nSec-Fetch-Site: same-origin\r\n" + formHead +
            "\r\n" + form,
        "POST /fb/logout HTTP/1.1\r\nHost: x\r\nCookie: " + cookie +
            "\r\nTransfer-Encoding: chunked\r\n\r\n5\r\na=b&c\r\n0\r\n\r\n",
        "GET /fb/update.php?s=a HTTP/1.1\r\nHost: x\r\n\r\nGET /fb/feed HTTP/1.1\r\nHost: x\r\n\r\n",
    };
}

// Pieces a mutation may put in: framing, escapes, numbers at their edges, bytes HTTP does not allow.
const std::vector<std::string> tokens = {
    "\r\n", "\n", "\r", ":", " ", "\t", "%", "%0", "%ZZ", "%00", "?", "&", "=", "#", "/", "..", "\\", "\"",
    std::string(1, '\0'), "\xFF", "\xC3", "\xE2\x80\xAE", "0", "-1", "18446744073709551616", "99999999999",
    "Content-Length: 5\r\n", "Transfer-Encoding: chunked\r\n", "Host: y\r\n", "Expect: 100-continue\r\n",
    "Content-Encoding: gzip\r\n", "Cookie: tunalo_session=00\r\n", "HTTP/1.0", "HTTP/2.0", "http://", "[",
};

std::string mutate(std::string text, std::mt19937_64& random)
{
    const auto pick = [&](std::size_t below) {
        return below == 0 ? std::size_t{0} : static_cast<std::size_t>(random() % below);
    };
    const int steps = 1 + static_cast<int>(pick(4));
    for (int step = 0; step < steps; ++step) {
        const auto at = pick(text.size() + 1);
        switch (pick(7)) {
        case 0: // one byte changed
            if (!text.empty())
                text[std::min(at, text.size() - 1)] = static_cast<char>(random());
            break;
        case 1: // a piece taken out
            text.erase(at, pick(64) + 1);
            break;
        case 2: // a token put in
            text.insert(at, tokens[pick(tokens.size())]);
            break;
        case 3: // a piece of the request again
            text.insert(at, text.substr(pick(text.size() + 1), pick(128)));
            break;
        case 4: // a long run, towards the limits
            text.insert(at, std::string(pick(20000) + 1, static_cast<char>("a%/:\r "[pick(6)])));
            break;
        case 5: // cut short
            text.resize(at);
            break;
        default: // random bytes
            for (auto n = pick(16) + 1; n > 0; --n)
                text.insert(text.begin() + static_cast<std::ptrdiff_t>(std::min(at, text.size())),
                            static_cast<char>(random()));
        }
    }
    return text;
}

// Sends the request, ends the sending side (so the service never waits for more), and reads what
// comes back until the service closes. False when the answer is not HTTP.
bool exchange(int port, const std::string& request, std::string& answer)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    answer.clear();
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0)
            ::close(fd);
        answer = "(no connection)";
        return false;
    }
    std::string_view left = request;
    while (!left.empty()) {
        const auto n = ::send(fd, left.data(), left.size(), MSG_NOSIGNAL);
        if (n <= 0)
            break; // the service refused the rest: what it answered still counts
        left.remove_prefix(static_cast<std::size_t>(n));
    }
    ::shutdown(fd, SHUT_WR);
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        // Generous: a log-in may wait for the hashing queue (64 hashes on two threads) and for the
        // pause that wrong passwords earn.
        if (::poll(&entry, 1, 60000) <= 0) {
            answer += "(no end within 60 s)";
            break;
        }
        char chunk[16384];
        const auto n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        answer.append(chunk, static_cast<std::size_t>(n));
    }
    // Closed with a reset: 50,000 connections leave no TIME_WAIT behind on this side.
    const linger reset{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(fd);
    return answer.empty() || (answer.starts_with("HTTP/1.") && answer.find("(no end") == std::string::npos);
}

} // namespace

int main(int argc, char** argv)
{
    const long count = argc > 1 ? std::stol(argv[1]) : 50000;
    const unsigned long seed = argc > 2 ? std::stoul(argv[2]) : 1;
    std::signal(SIGPIPE, SIG_IGN);
    TempDir dir;
    const auto log = dir.path() / "service.log";
    ServiceProcess service((dir.path() / "service.db").string(), log);
    Visitor ann(service.port());
    if (!ann.signUp("Ann", "correct horse")) {
        std::fprintf(stderr, "tunalo-service-fuzz: cannot sign up; see %s\n", log.c_str());
        return 1;
    }
    const auto requests = seeds(ann.cookie());
    const auto logins = loginSeeds();

    std::atomic<long> next = 0;
    std::atomic<long> bad = 0;
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w)
        threads.emplace_back([&] {
            std::string answer;
            for (long i = next++; i < count && bad < 10; i = next++) {
                std::mt19937_64 random(seed * 1000003 + static_cast<unsigned long>(i));
                // A log-in costs a password hash (or the wait wrong passwords earn): one in 200, fewer
                // than the two hashing threads take even under a sanitizer.
                const auto& from = i % 200 == 0 ? logins[static_cast<std::size_t>(i / 200) % logins.size()]
                                                : requests[static_cast<std::size_t>(i) % requests.size()];
                const auto request = mutate(from, random);
                if (!exchange(service.port(), request, answer)) {
                    ++bad;
                    std::fprintf(stderr, "tunalo-service-fuzz: request %ld (seed %lu) got: %.200s\n", i, seed,
                                 answer.c_str());
                }
            }
        });
    for (auto& thread : threads)
        thread.join();

    const bool alive = Visitor(service.port()).title("/") == "Tunalo service";
    const int status = service.stop(SIGTERM);
    const auto text = fileText(log);
    const bool reported = text.find("Sanitizer") != std::string::npos || text.find("runtime error:") != std::string::npos;
    const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::printf("tunalo-service-fuzz: %ld mutated requests, seed %lu: %ld bad answers, %s, %s, %s\n",
                std::min<long>(next, count), seed, bad.load(), alive ? "still serving" : "NOT SERVING",
                clean ? "clean stop" : "UNCLEAN STOP", reported ? "SANITIZER REPORT in the log" : "no sanitizer report");
    if (reported || !clean || !alive || bad > 0) {
        std::fprintf(stderr, "%s", text.substr(text.size() > 20000 ? text.size() - 20000 : 0).c_str());
        return 1;
    }
    return 0;
}
