#pragma once

// The reader's values wider than a byte go over the wire (and into its EPCs and Wiegand numbers) a
// byte of eight bits at a time, the most significant first: shifted out by kBitsPerByte, each byte
// cut off with kByteMask.
namespace zendrik::rules {

inline constexpr unsigned kBitsPerByte = 8;
inline constexpr unsigned kByteMask = 0xFF;

}  // namespace zendrik::rules
