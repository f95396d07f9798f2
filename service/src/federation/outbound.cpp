#include "federation/outbound.h"

#include "federation/httpsignature.h"
#include "federation/keys.h"

namespace tunalo::service {

KeyPair keysOf(Store& store, std::int64_t userId)
{
    if (auto keys = store.keys(userId))
        return *keys;
    return store.keepKeys(userId, makeKeyPair());
}

KeyPair instanceKeys(Store& store, std::int64_t now)
{
    const std::string key(instanceNameKey);
    auto account = store.findAccount(key);
    if (!account) {
        // No password opens it: "!" is no hash the password check accepts. Another instance may
        // make the row at the same moment; then this one finds theirs.
        store.createUser(key, key, "!", now);
        account = store.findAccount(key);
    }
    if (!account)
        throw DatabaseError("the service's own key row cannot be made");
    return keysOf(store, account->user.id);
}

PeerRequest signedPost(const std::string& inbox, const activities::Json& activity, const std::string& keyId,
                       const std::string& privatePem, const Clock& clock)
{
    PeerRequest request;
    request.method = http::verb::post;
    request.url = inbox;
    request.headers = {{"Content-Type", std::string(activities::activityType)},
                       {"Accept", std::string(activities::acceptActivity)}};
    request.body = activity.dump();
    request.sign = [keyId, privatePem, &clock](Request& outgoing) {
        signRequest(outgoing, outgoing[http::field::host], keyId, privatePem, clock.wall());
    };
    return request;
}

PeerRequest signedGet(const std::string& url, const std::string& keyId, const std::string& privatePem,
                      const Clock& clock)
{
    PeerRequest request;
    request.url = url;
    request.headers = {{"Accept", std::string(activities::acceptActivity)}};
    request.sign = [keyId, privatePem, &clock](Request& outgoing) {
        signFetch(outgoing, outgoing[http::field::host], keyId, privatePem, clock.wall());
    };
    return request;
}

} // namespace tunalo::service
