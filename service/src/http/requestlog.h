#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tunalo::service {

// The service's log: stderr, or a file. Lines go into a bounded buffer that a thread of the log's
// own writes out, so no request ever waits for a terminal, a pipe or a disk; when a stalled reader
// lets the buffer fill, lines are dropped and counted, and the count is written once the reader
// takes lines again. Before startLog() (in tests and tools) lines go straight to stderr.
//
// startLog: file empty for stderr; throws std::runtime_error when the file cannot be opened.
void startLog(const std::string& file);
// Opens the file again by its name (after logrotate moved it); nothing for stderr.
void reopenLog();
// Writes what is buffered, waiting at most a second for a stalled reader, and ends the thread.
void stopLog();

// One line per request: time, client, method, path, status, body bytes. Only the path: the query
// carries songs, which do not belong in a log. Every byte outside printable ASCII is written as
// \xNN, so nothing a client sends can start a line or steer the terminal.
void logRequest(std::string_view client, std::string_view method, std::string_view path, int status,
                std::size_t bytes);
// A request that failed inside the service, on one line of its own.
void logFailure(std::string_view method, std::string_view path, std::string_view what);
// A line about the service itself ("listening on ...").
void logNote(std::string_view text);

std::string escapeForLog(std::string_view text);

} // namespace tunalo::service
