#pragma once

namespace tunalo {

class mainmodule;

// Home: forgets the log-in state, shows the loader and loads the service's home page again.
void showhome(mainmodule& app);

} // namespace tunalo
