#include "http/requestlog.h"

#include "base/text.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace tunalo::service {

namespace {

using Clock = std::chrono::steady_clock;

// What the buffer holds at most: about a second of a busy service's lines.
constexpr std::size_t bufferBytes = 256 * 1024;

int openFile(const std::string& file)
{
    return ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
}

class Writer {
public:
    void start(const std::string& file)
    {
        std::lock_guard lock(m_mutex);
        m_file = file;
        m_fd = file.empty() ? STDERR_FILENO : openFile(file);
        if (m_fd < 0)
            throw std::runtime_error("cannot open the log " + file + ": " + std::strerror(errno));
        m_running = true;
        m_thread = std::thread([this] { run(); });
    }

    void reopen()
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_file.empty())
                return;
            m_reopen = true;
        }
        m_wake.notify_one();
    }

    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_running)
                return;
            m_running = false;
        }
        m_wake.notify_one();
        m_thread.join();
        if (m_fd != STDERR_FILENO)
            ::close(m_fd);
        m_fd = -1;
    }

    void add(std::string line)
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_running) {
                std::fputs(line.c_str(), stderr); // no log thread: a test or a tool
                return;
            }
            if (m_pending.size() + line.size() > bufferBytes) {
                ++m_dropped;
                return;
            }
            m_pending += line;
        }
        m_wake.notify_one();
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return !m_running || m_reopen || !m_pending.empty(); });
            if (m_reopen) {
                m_reopen = false;
                const int fd = openFile(m_file);
                if (fd >= 0) {
                    ::close(m_fd);
                    m_fd = fd;
                }
            }
            std::string batch;
            batch.swap(m_pending);
            if (m_dropped > 0 && !batch.empty()) {
                batch += utcTime(std::time(nullptr), rfc3339) + " tunalo-service: " + std::to_string(m_dropped) +
                         " log lines dropped: the log's reader did not keep up\n";
                m_dropped = 0;
            }
            const bool last = !m_running;
            lock.unlock();
            // While running the writer waits as long as the reader stalls; at the end, a second.
            writeAll(batch, last ? Clock::now() + std::chrono::seconds(1) : Clock::time_point::max());
            lock.lock();
            if (last)
                return;
        }
    }

    // Pieces of at most PIPE_BUF bytes, each once poll says there is room, so that a write never
    // blocks past the deadline.
    void writeAll(std::string_view text, Clock::time_point deadline)
    {
        while (!text.empty()) {
            pollfd entry{m_fd, POLLOUT, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return;
            const int wait = deadline == Clock::time_point::max() ? 1000 : static_cast<int>(left.count());
            const int ready = ::poll(&entry, 1, wait);
            if (ready < 0 && errno != EINTR)
                return;
            if (ready <= 0)
                continue;
            const auto n = ::write(m_fd, text.data(), std::min<std::size_t>(text.size(), PIPE_BUF));
            if (n < 0 && errno != EINTR && errno != EAGAIN)
                return; // the reader is gone: nothing more can be written
            if (n > 0)
                text.remove_prefix(static_cast<std::size_t>(n));
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
    std::string m_file;
    int m_fd = -1;
    bool m_running = false;
    bool m_reopen = false;
    std::string m_pending;
    std::size_t m_dropped = 0;
};

Writer& writer()
{
    static Writer log;
    return log;
}

std::string utcNow()
{
    return utcTime(std::time(nullptr), rfc3339);
}

} // namespace

void startLog(const std::string& file)
{
    writer().start(file);
}

void reopenLog()
{
    writer().reopen();
}

void stopLog()
{
    writer().stop();
}

std::string escapeForLog(std::string_view text)
{
    // Printable ASCII and the blank, but the backslash stands as it is; controls, escapes and every
    // byte of another script are written out, so a line cannot be forged or colour the terminal.
    return hexEscape(
        text, [](unsigned char u) { return u >= 0x20 && u < 0x7F && u != '\\'; }, "\\x", "0123456789abcdef");
}

void logRequest(std::string_view client, std::string_view method, std::string_view path, int status,
                std::size_t bytes)
{
    writer().add(utcNow() + " " + escapeForLog(client) + " " + escapeForLog(method) + " " + escapeForLog(path) +
                 " " + std::to_string(status) + " " + std::to_string(bytes) + "\n");
}

void logFailure(std::string_view method, std::string_view path, std::string_view what)
{
    writer().add(utcNow() + " tunalo-service: " + escapeForLog(method) + " " + escapeForLog(path) +
                 " failed: " + escapeForLog(what) + "\n");
}

void logNote(std::string_view text)
{
    writer().add("tunalo-service: " + escapeForLog(text) + "\n");
}

} // namespace tunalo::service
