#include "federation/keys.h"

#include <openssl/bio.h>
#include <openssl/decoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>

namespace tunalo::service {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;
using Decoder = std::unique_ptr<OSSL_DECODER_CTX, decltype(&OSSL_DECODER_CTX_free)>;

constexpr int minVerifyBits = 2048;
constexpr int maxVerifyBits = 4096;
// Far more than a PEM key of 4096 bits; text beyond it is not a key we take, and is not parsed.
constexpr std::size_t maxPemBytes = 16 * 1024;

// OpenSSL keeps its reasons for a failure in a per-thread queue; a failure we answer with false or
// an exception must not linger there to be read as the cause of some later, unrelated failure.
struct ClearErrorsOnExit {
    ClearErrorsOnExit() = default;
    ClearErrorsOnExit(const ClearErrorsOnExit&) = delete;
    ClearErrorsOnExit& operator=(const ClearErrorsOnExit&) = delete;
    ~ClearErrorsOnExit() { ERR_clear_error(); }
};

Bio readBio(std::string_view text)
{
    return Bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())), &BIO_free);
}

std::string drain(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(size));
}

bool isRsa(const Key& key)
{
    return key && EVP_PKEY_is_a(key.get(), "RSA");
}

// A stored private key is never encrypted; the callback keeps OpenSSL from asking a terminal for a
// pass phrase when it meets an encrypted one.
int noPassphrase(char*, int, int, void*)
{
    return -1;
}

Key readPrivateKey(const std::string& pem)
{
    if (pem.size() > maxPemBytes)
        return Key(nullptr, &EVP_PKEY_free);
    const Bio bio = readBio(pem);
    return Key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, &noPassphrase, nullptr) : nullptr,
               &EVP_PKEY_free);
}

// A public key as servers publish them: SubjectPublicKeyInfo ("PUBLIC KEY") mostly, and a bare
// PKCS#1 RSA key ("RSA PUBLIC KEY") from some; the decoder takes either.
Key readPublicKey(const std::string& pem)
{
    if (pem.size() > maxPemBytes)
        return Key(nullptr, &EVP_PKEY_free);
    EVP_PKEY* raw = nullptr;
    const Decoder decoder(
        OSSL_DECODER_CTX_new_for_pkey(&raw, "PEM", nullptr, nullptr, EVP_PKEY_PUBLIC_KEY, nullptr, nullptr),
        &OSSL_DECODER_CTX_free);
    if (!decoder)
        return Key(nullptr, &EVP_PKEY_free);
    const auto* data = reinterpret_cast<const unsigned char*>(pem.data());
    std::size_t left = pem.size();
    if (OSSL_DECODER_from_data(decoder.get(), &data, &left) != 1) {
        EVP_PKEY_free(raw);
        raw = nullptr;
    }
    return Key(raw, &EVP_PKEY_free);
}

constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The six bits a base64 character stands for; -1 for anything else, padding included.
int sextet(char c)
{
    const auto at = alphabet.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

} // namespace

KeyPair makeKeyPair()
{
    const ClearErrorsOnExit clear;
    const Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", std::size_t{2048}), &EVP_PKEY_free);
    const Bio publicOut(BIO_new(BIO_s_mem()), &BIO_free);
    const Bio privateOut(BIO_new(BIO_s_mem()), &BIO_free);
    // PEM_write_bio_PrivateKey writes PKCS#8 ("PRIVATE KEY"), unencrypted without a cipher.
    if (!key || !publicOut || !privateOut || PEM_write_bio_PUBKEY(publicOut.get(), key.get()) != 1 ||
        PEM_write_bio_PrivateKey(privateOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw std::runtime_error("OpenSSL could not make an RSA key pair");
    return {drain(publicOut.get()), drain(privateOut.get())};
}

std::string base64(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - at);
        std::uint32_t group = 0;
        for (std::size_t i = 0; i < 3; ++i)
            group = group << 8 | (i < count ? static_cast<unsigned char>(bytes[at + i]) : 0u);
        for (std::size_t i = 0; i < 4; ++i)
            out += i <= count ? alphabet[group >> (18 - 6 * i) & 0x3f] : '=';
    }
    return out;
}

std::optional<std::string> unbase64(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    const std::size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t bits = 0;
    int held = 0;
    for (const char c : text.substr(0, text.size() - padding)) {
        const int value = sextet(c);
        if (value < 0)
            return std::nullopt;
        bits = (bits << 6 | static_cast<std::uint32_t>(value)) & 0xffffff;
        held += 6;
        if (held >= 8) {
            held -= 8;
            out += static_cast<char>(bits >> held & 0xff);
        }
    }
    // Bits left over below the last whole byte are zero in what an encoder writes; text where they
    // are not is not one encoder's output, so it is refused rather than read two ways.
    if ((bits & ((1u << held) - 1)) != 0)
        return std::nullopt;
    return out;
}

std::string sha256Base64(std::string_view bytes)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1) {
        ERR_clear_error();
        throw std::runtime_error("OpenSSL could not compute SHA-256");
    }
    return base64(std::string_view(reinterpret_cast<const char*>(digest.data()), size));
}

std::string signSha256(const std::string& privatePem, std::string_view data)
{
    const ClearErrorsOnExit clear;
    const Key key = readPrivateKey(privatePem);
    if (!isRsa(key))
        throw std::runtime_error("the key is not a private RSA key in PEM");
    const DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    std::string signature(static_cast<std::size_t>(EVP_PKEY_get_size(key.get())), '\0');
    std::size_t size = signature.size();
    // An RSA key signs with PKCS#1 v1.5 padding unless told otherwise.
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1)
        throw std::runtime_error("OpenSSL could not sign");
    signature.resize(size);
    return base64(signature);
}

int rsaKeyBits(const std::string& publicPem)
{
    const ClearErrorsOnExit clear;
    const Key key = readPublicKey(publicPem);
    return isRsa(key) ? EVP_PKEY_get_bits(key.get()) : 0;
}

bool verifySha256(const std::string& publicPem, std::string_view data, std::string_view signature)
{
    const ClearErrorsOnExit clear;
    const Key key = readPublicKey(publicPem);
    if (!isRsa(key))
        return false;
    const int bits = EVP_PKEY_get_bits(key.get());
    const auto raw = unbase64(signature);
    if (bits < minVerifyBits || bits > maxVerifyBits || !raw)
        return false;
    const DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    return context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
           EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(raw->data()), raw->size(),
                            reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
}

} // namespace tunalo::service
