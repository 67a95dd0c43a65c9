#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane {

// SHA-256 (FIPS 180-4) of the bytes: what a Content-Security-Policy hash names.
std::array<std::uint8_t, 32> Sha256(std::string_view bytes);

// Base64 (RFC 4648, with padding).
std::string Base64(const std::uint8_t* bytes, std::size_t size);

}  // namespace quorvane
