#pragma once

namespace tunalo {

// The browser engine's process, tunalo-engine: it keeps the pages of the program that started it,
// told what to do over the socket it was given (--socket N), and ends when told to or when the
// program has gone. Returns the process's exit code.
int runEngine(int argc, char* argv[]);

} // namespace tunalo
