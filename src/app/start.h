#pragma once

namespace tunalo {

// The program: checks the desktop, prepares the browser engine, builds the real platform and the
// composition root, and runs until "&Exit". Returns the process's exit status.
int start(int argc, char* argv[]);

} // namespace tunalo
