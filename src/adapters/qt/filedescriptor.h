#pragma once

#include <cerrno>
#include <utility>

#include <unistd.h>

namespace tunalo {

// An open file descriptor, closed when it goes out of scope unless it was closed or moved on.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }

    int get() const { return m_fd; }
    // Closes now, so that a failure to close is seen; 0 or the error number.
    int close()
    {
        const int result = ::close(std::exchange(m_fd, -1));
        return result == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

} // namespace tunalo
