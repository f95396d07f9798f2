#pragma once

#include "base/clock.h"
#include "federation/activities.h"
#include "federation/peerclient.h"
#include "store/store.h"

#include <cstdint>
#include <string>

// The outbound side of federation: what the service sends to other servers on a person's behalf
// (delivery's notes and deletions, the inbox's Accept), signed with the person's key, and what it
// fetches from them, signed with its own.
namespace tunalo::service {

// A person's key pair, made on first use for an account that has none yet.
KeyPair keysOf(Store& store, std::int64_t userId);

// The service's own key pair, which its instance actor signs fetches with; made on first use and
// kept in the store, so every instance on one database signs with the same key.
KeyPair instanceKeys(Store& store, std::int64_t now);

// A request that posts an activity to an inbox, signed by the person's key as it goes out (and
// again before each redirect), dated by the clock.
PeerRequest signedPost(const std::string& inbox, const activities::Json& activity, const std::string& keyId,
                       const std::string& privatePem, const Clock& clock);

// A request that fetches a document from another server, signed by the key (the instance actor's)
// as it goes out and again before each redirect.
PeerRequest signedGet(const std::string& url, const std::string& keyId, const std::string& privatePem,
                      const Clock& clock);

} // namespace tunalo::service
