#pragma once

#include <string>

namespace tunalo::service {

// A person's key pair for signing what the service sends on their behalf, in PEM, as the store
// keeps it: the public key as SubjectPublicKeyInfo ("PUBLIC KEY"), the private key as PKCS#8
// ("PRIVATE KEY"). federation/keys.h makes and uses them.
struct KeyPair {
    std::string publicPem;
    std::string privatePem;
};

} // namespace tunalo::service
