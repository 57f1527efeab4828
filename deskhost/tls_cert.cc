#include "deskhost/tls_cert.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "core/error.h"

namespace desk::deskhost {
namespace {

template <typename T, void (*F)(T*)>
struct Free {
  void operator()(T* p) const { F(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Free<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Free<X509, X509_free>>;

void check(bool ok, const char* what) {
  if (!ok) throw Error(Errc::internal, std::string("cannot make the certificate: ") + what);
}

void add_extension(X509* cert, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  check(ext != nullptr, "extension");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

// Opens `path` for writing with mode `mode` (an existing file keeps its mode
// until replaced).
FILE* create(const std::filesystem::path& path, mode_t mode) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
  if (fd < 0) throw Error(Errc::io, "cannot write " + path.string());
  return ::fdopen(fd, "w");
}

}  // namespace

void make_self_signed(const std::filesystem::path& certificate, const std::filesystem::path& key,
                      std::vector<std::string> names) {
  names.insert(names.begin(), {"localhost", "127.0.0.1"});
  Key pkey(EVP_EC_gen("P-256"));
  check(pkey != nullptr, "key");
  Cert cert(X509_new());
  check(cert != nullptr, "certificate");
  X509_set_version(cert.get(), 2);
  unsigned char serial[16];
  check(RAND_bytes(serial, sizeof serial) == 1, "serial number");
  serial[0] &= 0x7F;
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
  BN_free(bn);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 825L * 24 * 3600);
  X509_set_pubkey(cert.get(), pkey.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(names[0].c_str()), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("deskhost trial"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  std::string alt;
  for (const auto& n : names) {
    unsigned char buf[16];
    bool ip = inet_pton(AF_INET, n.c_str(), buf) == 1 || inet_pton(AF_INET6, n.c_str(), buf) == 1;
    alt += (alt.empty() ? "" : ",") + std::string(ip ? "IP:" : "DNS:") + n;
  }
  add_extension(cert.get(), NID_subject_alt_name, alt);
  add_extension(cert.get(), NID_basic_constraints, "critical,CA:FALSE");
  add_extension(cert.get(), NID_key_usage, "critical,digitalSignature");
  add_extension(cert.get(), NID_ext_key_usage, "serverAuth");
  check(X509_sign(cert.get(), pkey.get(), EVP_sha256()) > 0, "signature");

  std::filesystem::create_directories(key.parent_path());
  std::filesystem::create_directories(certificate.parent_path());
  FILE* k = create(key, 0600);
  bool ok = PEM_write_PrivateKey(k, pkey.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
  ok = std::fclose(k) == 0 && ok;
  if (!ok) throw Error(Errc::io, "cannot write " + key.string());
  FILE* c = create(certificate, 0644);
  ok = PEM_write_X509(c, cert.get()) == 1;
  ok = std::fclose(c) == 0 && ok;
  if (!ok) throw Error(Errc::io, "cannot write " + certificate.string());
}

}  // namespace desk::deskhost
