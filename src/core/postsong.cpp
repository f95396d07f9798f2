#include "core/mainmodule.h"
#include "core/postqueue.h"

namespace tunalo {

// The song goes out once the post before it is done; the balloon tells how it went.
void mainmodule::postsong()
{
    posts().add(m_state.currentSong);
}

} // namespace tunalo
