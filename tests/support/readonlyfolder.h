#pragma once

#include <QFile>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>

namespace tunalo::test {

// A folder the program may not write in while this lives: read-only, and for root (who may write
// anywhere) the test runs as nobody.
class ReadOnlyFolder {
public:
    ReadOnlyFolder(const QString& parent, const QString& folder) : m_folder(folder)
    {
        chmod(QFile::encodeName(parent).constData(), 0755);
        chmod(QFile::encodeName(folder).constData(), 0555);
        if (geteuid() == 0 && setegid(kNobody) == 0 && seteuid(kNobody) == 0)
            m_wasRoot = true;
    }
    ~ReadOnlyFolder()
    {
        if (m_wasRoot) {
            [[maybe_unused]] const bool restored = seteuid(0) == 0 && setegid(0) == 0;
        }
        chmod(QFile::encodeName(m_folder).constData(), 0755);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

private:
    static constexpr uid_t kNobody = 65534;
    QString m_folder;
    bool m_wasRoot = false;
};

} // namespace tunalo::test
