// SHA-256 sums, so that a technician can check a firmware file and each record's image against a
// published sum (sha256sum prints the same digits for the same bytes).
#pragma once

#include <cstdint>
#include <limits>
#include <string>

// The SHA-256 of length bytes of the file from offset (all that follows with the default), as 64
// lower-case hex digits; "" when the file cannot be read or ends before them.
std::string FileSha256(const std::u16string& path, uint64_t offset = 0,
                       uint64_t length = std::numeric_limits<uint64_t>::max());
