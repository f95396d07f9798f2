#pragma once

#include "federation/peerclient.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace tunalo::service {

// When each listening service, or each Mastodon account's posting or deleting, lets the next
// request in. ListenBrainz and Mastodon say in every answer how many requests are left in their
// window and when the window starts again, and answer 429 to a request beyond it; the delivery
// sends nothing more there until then, and a refused request goes again then, without counting as
// a failed try.
class ListenPauses {
public:
    // How long to wait after a 429 that does not say.
    static constexpr std::int64_t defaultWaitSeconds = 60;
    // The longest wait taken from an answer, so that a wrong header cannot stop the listens for days.
    static constexpr std::int64_t longestWaitSeconds = 3600;

    // Takes in what the service at target answered at now (in seconds).
    void answered(const std::string& target, const PeerAnswer& answer, std::int64_t now);
    // Until when requests to target wait; none when they may go at now.
    std::optional<std::int64_t> waitUntil(const std::string& target, std::int64_t now) const;

private:
    std::map<std::string, std::int64_t> m_until; // by the service's address
};

} // namespace tunalo::service
