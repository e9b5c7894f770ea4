#include "host/digest.h"

#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <memory>

namespace kv::host {

std::optional<FileDigest> DigestFile(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) return std::nullopt;
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    return std::nullopt;
  }
  FileDigest digest;
  std::array<unsigned char, 1 << 16> buffer;
  std::size_t count = 0;
  while ((count = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
    EVP_DigestUpdate(context.get(), buffer.data(), count);
    digest.size += count;
  }
  if (std::ferror(file.get())) return std::nullopt;
  std::array<unsigned char, EVP_MAX_MD_SIZE> hash;
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), hash.data(), &length) != 1) return std::nullopt;
  static constexpr char kHex[] = "0123456789abcdef";
  for (unsigned int i = 0; i < length; ++i) {
    digest.sha256_hex.push_back(kHex[hash[i] >> 4]);
    digest.sha256_hex.push_back(kHex[hash[i] & 0xF]);
  }
  return digest;
}

}  // namespace kv::host
