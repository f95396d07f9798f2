#pragma once

#include "store/keypair.h"

#include <optional>
#include <string>
#include <string_view>

namespace tunalo::service {

// A fresh RSA-2048 pair. Throws std::runtime_error when the library fails.
KeyPair makeKeyPair();

// Standard base64 with padding, and back (empty for text that is not base64).
std::string base64(std::string_view bytes);
std::optional<std::string> unbase64(std::string_view text);

// SHA-256 of the bytes, as base64.
std::string sha256Base64(std::string_view bytes);

// The RSASSA-PKCS1-v1_5 SHA-256 signature of data, as base64. Throws std::runtime_error for a key
// that is not a private RSA key in PEM.
std::string signSha256(const std::string& privatePem, std::string_view data);

// Bits of an RSA public key in PEM; 0 for anything else (another kind of key, damaged text).
int rsaKeyBits(const std::string& publicPem);

// Whether signature (base64) is the RSASSA-PKCS1-v1_5 SHA-256 signature of data by the key.
// False for anything malformed, and for keys that are not RSA of 2048 to 4096 bits.
bool verifySha256(const std::string& publicPem, std::string_view data, std::string_view signature);

} // namespace tunalo::service
