#include "tls/credentials.hpp"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <system_error>

#include "platform/private_file.hpp"

namespace talmir880::tls {
namespace {

template <typename T, void (*Free)(T*)>
struct Freer {
  void operator()(T* p) const { Free(p); }
};
using Bio = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using Certificate = std::unique_ptr<X509, Freer<X509, X509_free>>;
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;

// A file's bytes; nothing, with why, when it cannot be read.
std::optional<std::string> file_text(const std::string& path, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::error_code error;
    why =
        std::filesystem::exists(path, error) ? path + ": cannot be read" : path + ": no such file";
    return std::nullopt;
  }
  std::ostringstream out;
  out << in.rdbuf();
  return std::move(out).str();
}

Bio memory(const std::string& text) {
  return Bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

std::string pem_of(const std::function<int(BIO*)>& write) {
  Bio out(BIO_new(BIO_s_mem()));
  if (!out || write(out.get()) != 1) return {};
  char* data = nullptr;
  const long size = BIO_get_mem_data(out.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

std::string fingerprint_of(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  X509_digest(certificate, EVP_sha256(), digest, &size);
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i + 1 < size ? "%02X:" : "%02X", digest[i]);
    out += pair;
  }
  return out;
}

// The certificates of a PEM text, the first the server's.
std::vector<Certificate> certificates_in(const std::string& text) {
  std::vector<Certificate> out;
  const Bio in = memory(text);
  while (X509* next = PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr)) {
    out.emplace_back(next);
  }
  return out;
}

// Reads and checks a certificate's text and its key's; `owner` words the
// faults of the owner's files.
std::optional<Credentials> checked(const std::string& chain_text, const std::string& key_text,
                                   const std::string& certificate_path, const std::string& key_path,
                                   std::string& why) {
  const std::vector<Certificate> chain = certificates_in(chain_text);
  if (chain.empty()) {
    why = certificate_path + ": not a PEM certificate";
    return std::nullopt;
  }
  const Bio in = memory(key_text);
  const Key key(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr));
  if (!key) {
    why = key_path + ": not a PEM private key (or one with a passphrase)";
    return std::nullopt;
  }
  const int type = EVP_PKEY_get_base_id(key.get());
  if (type != EVP_PKEY_RSA && type != EVP_PKEY_EC) {
    why = key_path + ": neither an RSA nor an EC key";
    return std::nullopt;
  }
  X509* own = chain.front().get();
  if (X509_check_private_key(own, key.get()) != 1) {
    why = key_path + ": not the key of the certificate in " + certificate_path;
    return std::nullopt;
  }
  if (X509_cmp_current_time(X509_get0_notAfter(own)) <= 0) {
    why = certificate_path + ": expired";
    return std::nullopt;
  }
  if (X509_cmp_current_time(X509_get0_notBefore(own)) >= 0) {
    why = certificate_path + ": not valid yet";
    return std::nullopt;
  }
  Credentials out;
  for (const Certificate& c : chain) {
    out.chain_pem += pem_of([&c](BIO* b) { return PEM_write_bio_X509(b, c.get()); });
  }
  out.key_pem = pem_of([&key](BIO* b) {
    return PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  out.rsa = type == EVP_PKEY_RSA;
  out.fingerprint = fingerprint_of(own);
  return out;
}

bool add_extension(X509* certificate, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (extension == nullptr) return false;
  const bool added = X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

// A self-signed certificate of a new P-256 key for the names and addresses.
std::optional<std::pair<std::string, std::string>> make(const std::vector<std::string>& names,
                                                        const std::vector<std::string>& addresses) {
  const Key key(EVP_EC_gen("P-256"));
  const Certificate certificate(X509_new());
  if (!key || !certificate) return std::nullopt;
  X509* c = certificate.get();
  X509_set_version(c, 2);
  // A random serial, positive: two made on one host never look the same.
  std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_free>> serial(BN_new());
  if (!serial || BN_rand(serial.get(), 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1 ||
      BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(c)) == nullptr) {
    return std::nullopt;
  }
  X509_gmtime_adj(X509_getm_notBefore(c), -60 * 60);  // a clock a little behind takes it
  X509_gmtime_adj(X509_getm_notAfter(c), 60L * 60 * 24 * kMadeValidDays);
  X509_set_pubkey(c, key.get());
  X509_NAME* name = X509_get_subject_name(c);
  const std::string common = "TALMIR-880 " + (names.empty() ? std::string("server") : names[0]);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(common.c_str()), -1, -1, 0);
  X509_set_issuer_name(c, name);
  std::string alternatives;
  for (const std::string& n : names) alternatives += (alternatives.empty() ? "DNS:" : ",DNS:") + n;
  for (const std::string& a : addresses)
    alternatives += (alternatives.empty() ? "IP:" : ",IP:") + a;
  if (!add_extension(c, NID_basic_constraints, "critical,CA:FALSE") ||
      !add_extension(c, NID_key_usage, "critical,digitalSignature") ||
      !add_extension(c, NID_ext_key_usage, "serverAuth") ||
      (!alternatives.empty() && !add_extension(c, NID_subject_alt_name, alternatives)) ||
      X509_sign(c, key.get(), EVP_sha256()) == 0) {
    return std::nullopt;
  }
  return std::pair{pem_of([c](BIO* b) { return PEM_write_bio_X509(b, c); }), pem_of([&key](BIO* b) {
                     return PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr,
                                                     nullptr);
                   })};
}

}  // namespace

std::optional<Credentials> read_owned(const std::string& certificate, const std::string& key,
                                      std::string& why) {
  const std::optional<std::string> chain_text = file_text(certificate, why);
  if (!chain_text) return std::nullopt;
  const std::optional<std::string> key_text = file_text(key, why);
  if (!key_text) return std::nullopt;
  if (const std::optional<std::string> open = platform::open_to_others(key)) {
    why = *open;
    return std::nullopt;
  }
  return checked(*chain_text, *key_text, certificate, key, why);
}

std::optional<Credentials> kept_or_made(const std::filesystem::path& folder,
                                        const std::vector<std::string>& names,
                                        const std::vector<std::string>& addresses, bool& made,
                                        std::string& why) {
  const std::string certificate = (folder / kMadeCertificate).string();
  const std::string key = (folder / kMadeKey).string();
  made = false;
  std::error_code error;
  if (std::filesystem::exists(certificate, error) || std::filesystem::exists(key, error)) {
    // Kept from an earlier start: used while good; a key others may read is
    // refused as the owner's would be, not silently replaced.
    std::string fault;
    if (std::optional<Credentials> kept = read_owned(certificate, key, fault)) return kept;
    if (platform::open_to_others(key)) {
      why = fault;
      return std::nullopt;
    }
  }
  const std::optional<std::pair<std::string, std::string>> pems = make(names, addresses);
  if (!pems) {
    why = "cannot make a TLS certificate";
    return std::nullopt;
  }
  std::filesystem::create_directories(folder, error);
  if (error) {
    why = folder.string() + ": " + error.message();
    return std::nullopt;
  }
  if (!platform::write_private(key, pems->second, why)) return std::nullopt;
  std::ofstream out(certificate, std::ios::binary | std::ios::trunc);
  out << pems->first;
  if (!out.flush()) {
    why = certificate + ": cannot be written";
    return std::nullopt;
  }
  made = true;
  return checked(pems->first, pems->second, certificate, key, why);
}

}  // namespace talmir880::tls
