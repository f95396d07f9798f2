#include "adapters/qt/endsignals.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tunalo {

namespace {

// The pipe's end the handler writes into; only one object owns the signals at a time.
volatile sig_atomic_t g_writeEnd = -1;

void onEndSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a request to end; one is enough.
    [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &byte, 1);
    errno = savedErrno;
}

} // namespace

EndSignals::EndSignals(std::function<void()> ended) : m_ended(std::move(ended))
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0)
        return;
    m_read = FileDescriptor(ends[0]);
    m_write = FileDescriptor(ends[1]);
    g_writeEnd = m_write.get();
    m_notifier = std::make_unique<QSocketNotifier>(m_read.get(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &EndSignals::received);

    struct sigaction action {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals)
        ::sigaction(number, &action, nullptr);
}

EndSignals::~EndSignals()
{
    if (!m_notifier)
        return;
    for (const int number : kSignals)
        std::signal(number, SIG_DFL);
    g_writeEnd = -1;
}

void EndSignals::received()
{
    char bytes[16];
    while (::read(m_read.get(), bytes, sizeof bytes) > 0) {
    }
    m_ended();
}

} // namespace tunalo
