#include "federation/outbound.h"

#include "federation/httpsignature.h"
#include "federation/keys.h"

#include <chrono>

namespace tunalo::service {

KeyPair keysOf(Store& store, std::int64_t userId)
{
    if (auto keys = store.keys(userId))
        return *keys;
    return store.keepKeys(userId, makeKeyPair());
}

PeerRequest signedPost(const std::string& inbox, const activities::Json& activity, const std::string& keyId,
                       const std::string& privatePem)
{
    PeerRequest request;
    request.method = http::verb::post;
    request.url = inbox;
    request.headers = {{"Content-Type", std::string(activities::activityType)},
                       {"Accept", std::string(activities::acceptActivity)}};
    request.body = activity.dump();
    request.sign = [keyId, privatePem](Request& outgoing) {
        signRequest(outgoing, outgoing[http::field::host], keyId, privatePem, std::chrono::system_clock::now());
    };
    return request;
}

} // namespace tunalo::service
