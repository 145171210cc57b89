#pragma once

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zendrik::tool {

// Get_Version and Get_SerNum fill up to this many bytes.
inline constexpr std::size_t kIdentityBufferSize = 50;
using IdentityBuffer = std::array<uint8_t, kIdentityBufferSize>;

// The version text in a zeroed identity buffer: up to its first zero byte, or the whole buffer
// when the reader filled it.
inline QString VersionText(const IdentityBuffer& buffer) {
    const auto* text = reinterpret_cast<const char*>(buffer.data());
    return QString::fromLatin1(text, static_cast<qsizetype>(strnlen(text, buffer.size())));
}

}  // namespace zendrik::tool
