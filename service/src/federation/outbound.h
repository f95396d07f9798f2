#pragma once

#include "federation/activities.h"
#include "federation/peerclient.h"
#include "store/store.h"

#include <cstdint>
#include <string>

// The outbound side of federation: what the service sends to other servers on a person's behalf
// (delivery's notes and deletions, the inbox's Accept), signed with the person's key.
namespace tunalo::service {

// A person's key pair, made on first use for an account that has none yet.
KeyPair keysOf(Store& store, std::int64_t userId);

// A request that posts an activity to an inbox, signed by the person's key as it goes out.
PeerRequest signedPost(const std::string& inbox, const activities::Json& activity, const std::string& keyId,
                       const std::string& privatePem);

} // namespace tunalo::service
