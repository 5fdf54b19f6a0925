// HMAC-MD5 (RFC 2104), the keyed digest behind SMTP AUTH CRAM-MD5.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace mail {

std::array<unsigned char, 16> HmacMd5(std::string_view key, std::string_view data);

// Digest as 32 lower-case hex characters, the form CRAM-MD5 sends.
std::string ToLowerHex(const std::array<unsigned char, 16>& digest);

}  // namespace mail
