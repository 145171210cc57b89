#pragma once

#include <string>
#include <string_view>

namespace zendrik::daemon {

// The header that carries a webhook body's signature, as GitHub and Stripe sign theirs: the
// receiver computes the HMAC of the raw body with the shared secret and compares.
inline constexpr const char* kSignatureHeader = "X-Zendrik-Signature";

// HMAC-SHA256 of `body` keyed by `secret`, as lower-case hex (64 digits).
std::string HmacSha256Hex(std::string_view secret, std::string_view body);

// "sha256=" and the HMAC: the header's value.
std::string SignatureValue(std::string_view secret, std::string_view body);

}  // namespace zendrik::daemon
