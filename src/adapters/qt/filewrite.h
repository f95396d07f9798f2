#pragma once

#include <QByteArray>
#include <QString>

namespace tunalo {

// Writing the small files a person may also edit or keep elsewhere (settings, the autostart
// entry): through links, never over a protected file, and with a cause the user understands.

// What stood in the way of a write, in the user's terms, from the system's error number; folder is
// where the write went.
QString writeCause(int error, const QString& folder);

// The file a path names once every symbolic link on its last step is followed, so that a write
// reaches the file a link points to instead of replacing the link; the path itself when it is no
// link or names nothing yet. Empty, with errno set, when the links go round in a circle or cannot
// be read.
QByteArray linkedFile(const QByteArray& path);

// The file exists and may not be written: its owner protected it, so it is not to be replaced.
bool writeProtected(const QByteArray& file);

// Writes the bytes to a new file beside target and puts it in target's place in one step, so a
// failure at any point leaves the old file whole; the new file keeps the old one's permissions.
// 0, or the error number of the step that failed.
int replaceFile(const QByteArray& target, const QByteArray& bytes);

} // namespace tunalo
