#include "ui/cli/digest.h"

#include <nettle/sha2.h>

#include <filesystem>
#include <fstream>
#include <vector>

std::string FileSha256(const std::u16string& path, uint64_t offset, uint64_t length) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  if (!file || !file.seekg(static_cast<std::streamoff>(offset)))
    return "";
  const bool toEnd = length == std::numeric_limits<uint64_t>::max();
  sha256_ctx context;
  sha256_init(&context);
  std::vector<char> buffer(64 * 1024);
  uint64_t left = length;
  while (left > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
    file.read(buffer.data(), static_cast<std::streamsize>(want));
    const size_t got = static_cast<size_t>(file.gcount());
    sha256_update(&context, got, reinterpret_cast<const uint8_t*>(buffer.data()));
    left -= got;
    if (got < want) {
      if (!toEnd || file.bad())
        return "";  // the file ends before the bytes asked for, or cannot be read
      break;
    }
  }
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&context, sizeof digest, digest);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}
