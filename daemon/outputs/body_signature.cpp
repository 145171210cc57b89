#include "daemon/outputs/body_signature.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <stdexcept>

namespace zendrik::daemon {

std::string HmacSha256Hex(std::string_view secret, std::string_view body) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
             reinterpret_cast<const unsigned char*>(body.data()), body.size(), digest.data(),
             &length) == nullptr) {
        throw std::runtime_error("HMAC-SHA256 failed");
    }
    static constexpr char kHexDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHexDigits[digest[i] >> 4];
        hex += kHexDigits[digest[i] & 0x0f];
    }
    return hex;
}

std::string SignatureValue(std::string_view secret, std::string_view body) {
    return "sha256=" + HmacSha256Hex(secret, body);
}

}  // namespace zendrik::daemon
