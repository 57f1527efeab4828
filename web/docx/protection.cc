#include "web/docx/protection.h"

#include <openssl/evp.h>

#include <vector>

#include "web/docx/error.h"

namespace desk::docx {
namespace {

constexpr std::uint16_t kInitialCode[15] = {0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C,
                                            0x0E10, 0xF1CE, 0x313E, 0x1872, 0xE139,
                                            0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3};

constexpr std::uint16_t kEncryptionMatrix[15][7] = {
    {0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09},
    {0x7B61, 0xF6C2, 0xFDA5, 0xEB6B, 0xC6F7, 0x9DCF, 0x2BBF},
    {0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0},
    {0x0375, 0x06EA, 0x0DD4, 0x1BA8, 0x3750, 0x6EA0, 0xDD40},
    {0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D, 0xAA7A, 0x44D5},
    {0x6F45, 0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A},
    {0xEB23, 0xC667, 0x9CEF, 0x29FF, 0x53FE, 0xA7FC, 0x5FD9},
    {0x47D3, 0x8FA6, 0x0F6D, 0x1EDA, 0x3DB4, 0x7B68, 0xF6D0},
    {0xB861, 0x60E3, 0xC1C6, 0x93AD, 0x377B, 0x6EF6, 0xDDEC},
    {0x45A0, 0x8B40, 0x06A1, 0x0D42, 0x1A84, 0x3508, 0x6A10},
    {0xAA51, 0x4483, 0x8906, 0x022D, 0x045A, 0x08B4, 0x1168},
    {0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C},
    {0x3730, 0x6E60, 0xDCC0, 0xA9A1, 0x4363, 0x86C6, 0x1DAD},
    {0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373, 0x06E6, 0x0DCC},
    {0x1021, 0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4},
};

// UTF-16 code units of UTF-8 text; malformed bytes count as U+FFFD.
std::vector<std::uint16_t> utf16(std::string_view s) {
  std::vector<std::uint16_t> out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::uint32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 6 && i + 1 < s.size()) {
      cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
      len = 2;
    } else if ((c >> 4) == 14 && i + 2 < s.size()) {
      cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
      len = 3;
    } else if ((c >> 3) == 30 && i + 3 < s.size()) {
      cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) |
           (s[i + 3] & 0x3F);
      len = 4;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<std::uint16_t>(cp));
    }
  }
  return out;
}

const EVP_MD* digest(HashAlgorithm a) {
  switch (a) {
    case HashAlgorithm::sha1:
      return EVP_sha1();
    case HashAlgorithm::sha256:
      return EVP_sha256();
    case HashAlgorithm::sha384:
      return EVP_sha384();
    case HashAlgorithm::sha512:
      return EVP_sha512();
  }
  return EVP_sha512();
}

}  // namespace

std::uint32_t legacy_password_key(std::string_view password) {
  auto units = utf16(password);
  if (units.size() > 15) units.resize(15);
  std::vector<std::uint8_t> b;
  for (auto u : units) b.push_back((u & 0xFF) ? (u & 0xFF) : (u >> 8));
  const std::size_t n = b.size();
  if (n == 0) return 0;
  std::uint16_t high = kInitialCode[n - 1];
  for (std::size_t i = 0; i < n; ++i) {
    const auto& row = kEncryptionMatrix[15 - n + i];
    for (int bit = 0; bit < 7; ++bit)
      if (b[i] & (1u << bit)) high ^= row[bit];
  }
  std::uint16_t low = 0;
  auto rotate = [&](std::uint16_t v) {
    return static_cast<std::uint16_t>(((v >> 14) & 1) | ((v << 1) & 0x7FFF));
  };
  for (std::size_t i = n; i-- > 0;) low = rotate(low) ^ b[i];
  low = rotate(low) ^ static_cast<std::uint16_t>(n) ^ 0xCE4B;
  return (static_cast<std::uint32_t>(high) << 16) | low;
}

std::string protection_hash(std::string_view password, std::string_view salt,
                            HashAlgorithm algorithm, std::uint32_t spin_count) {
  std::uint32_t key = legacy_password_key(password);
  static const char* hex = "0123456789ABCDEF";
  std::string input(salt);
  for (int i = 0; i < 4; ++i) {
    std::uint8_t byte = static_cast<std::uint8_t>(key >> (8 * i));
    for (char ch : {hex[byte >> 4], hex[byte & 15]}) {
      input.push_back(ch);
      input.push_back('\0');
    }
  }
  const EVP_MD* md = digest(algorithm);
  unsigned char h[EVP_MAX_MD_SIZE + 4];
  unsigned int len = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  auto run = [&](const void* data, std::size_t size) {
    if (!EVP_DigestInit_ex(ctx, md, nullptr) || !EVP_DigestUpdate(ctx, data, size) ||
        !EVP_DigestFinal_ex(ctx, h, &len)) {
      EVP_MD_CTX_free(ctx);
      throw Error(Errc::unavailable, "the digest of the protection hash failed");
    }
  };
  run(input.data(), input.size());
  for (std::uint32_t i = 0; i < spin_count; ++i) {
    for (int k = 0; k < 4; ++k) h[len + k] = static_cast<unsigned char>(i >> (8 * k));
    run(h, len + 4);
  }
  EVP_MD_CTX_free(ctx);
  return std::string(reinterpret_cast<const char*>(h), len);
}

std::string base64_encode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3), '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string base64_decode(std::string_view text) {
  std::string in;
  for (char c : text)
    if (c != ' ' && c != '\n' && c != '\r' && c != '\t') in.push_back(c);
  if (in.size() % 4 != 0) throw Error(Errc::malformed, "not base64: \"" + std::string(text) + "\"");
  std::string out(in.size() / 4 * 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(in.data()),
                          static_cast<int>(in.size()));
  if (n < 0) throw Error(Errc::malformed, "not base64: \"" + std::string(text) + "\"");
  std::size_t pad = 0;
  if (!in.empty() && in.back() == '=') ++pad;
  if (in.size() > 1 && in[in.size() - 2] == '=') ++pad;
  out.resize(static_cast<std::size_t>(n) - pad);
  return out;
}

}  // namespace desk::docx
