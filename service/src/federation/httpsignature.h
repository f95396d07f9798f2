#pragma once

#include "http/httpserver.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// HTTP Signatures as servers on the fediverse sign their requests to each other: a Signature header
// (draft-cavage-http-signatures) with keyId, algorithm, headers and signature, over a signing
// string made of the named headers, "(request-target)" standing for "method path"; and its
// successor, HTTP Message Signatures (RFC 9421: Signature-Input naming the covered components and
// the key, Signature holding the signature), which newer servers try first.
namespace tunalo::service {

struct SignatureHeader {
    std::string keyId;
    std::string algorithm;            // as written; empty when absent
    std::vector<std::string> headers; // lower case, in order; "date" when the header names none
    std::string signature;            // base64
    // RFC 9421 only: the signature base, made while the headers were read (it needs the address
    // the request was sent to); empty for draft-cavage, whose signing string the headers make.
    std::string base;
};

// Empty when the header is malformed or lacks keyId or signature.
std::optional<SignatureHeader> parseSignatureHeader(std::string_view text);

// The signing string over the named headers of a request; empty when one of them is missing.
// target is the request's path and query as sent.
std::optional<std::string> signingString(const Request& request, const std::vector<std::string>& headers);

enum class SignatureCheck {
    ok,
    missing,      // no Signature header
    malformed,    // a header that cannot be read, or an algorithm other than rsa-sha256/hs2019
    uncovered,    // the signature does not cover (request-target), host, date and digest
    badDigest,    // no Digest SHA-256, or it does not match the body
    stale,        // Date missing, unreadable, or more than twelve hours away from now
    badSignature, // the key does not verify the signature
};

// What can be judged before the key is known: the header, what it covers, the digest and the date.
// Gives the parsed header when that much holds. A request with Signature-Input is judged as RFC 9421
// has it: rsa-v1_5-sha256 covering @method, @target-uri and, with a body, a Content-Digest (RFC
// 9530) with a matching sha-256, created within the same twelve hours as a Date. site is the
// service's public address (scheme://host[:port]), which @target-uri was signed with; without one,
// http:// and the Host header stand for it.
struct Precheck {
    SignatureCheck result = SignatureCheck::missing;
    std::optional<SignatureHeader> header;
};
Precheck precheckSignature(const Request& request, std::chrono::system_clock::time_point now,
                           std::string_view site = {});

// Whether the key (PEM) verifies the header's signature over the request.
bool signatureHolds(const Request& request, const SignatureHeader& header, const std::string& publicPem);

// Signs a request as its own server would: sets Host (host[:port] of the address it goes to),
// Date (now), Digest (SHA-256 of the body, also for an empty one) and Signature (rsa-sha256 over
// "(request-target) host date digest", plus "content-type" when the request has one).
void signRequest(Request& request, std::string_view host, std::string_view keyId, const std::string& privatePem,
                 std::chrono::system_clock::time_point now);

// Signs a fetch (a GET without a body) as servers in secure mode expect it: Host, Date and a
// Signature over "(request-target) host date".
void signFetch(Request& request, std::string_view host, std::string_view keyId, const std::string& privatePem,
               std::chrono::system_clock::time_point now);

// HTTP's date form (IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT"), and back (empty when unreadable).
std::string httpDate(std::chrono::system_clock::time_point when);
std::optional<std::chrono::system_clock::time_point> parseHttpDate(std::string_view text);

} // namespace tunalo::service
