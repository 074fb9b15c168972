#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/owner_only.hpp"
#include "tls/credentials.hpp"

namespace talmir880::tls {
namespace {

namespace fs = std::filesystem;

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

Key new_key(bool rsa) { return Key(rsa ? EVP_RSA_gen(2048) : EVP_EC_gen("P-256")); }

// A certificate of `key`, valid from `from_s` to `to_s` seconds from now,
// signed by `signer` (itself when null), written as PEM.
std::string certificate(EVP_PKEY* key, long from_s, long to_s, EVP_PKEY* signer = nullptr) {
  X509* c = X509_new();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), 7);
  X509_gmtime_adj(X509_getm_notBefore(c), from_s);
  X509_gmtime_adj(X509_getm_notAfter(c), to_s);
  X509_set_pubkey(c, key);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(c), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("bench"), -1, -1, 0);
  X509_set_issuer_name(c, X509_get_subject_name(c));
  X509_sign(c, signer != nullptr ? signer : key, EVP_sha256());
  BIO* out = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(out, c);
  char* data = nullptr;
  const long size = BIO_get_mem_data(out, &data);
  std::string pem(data, static_cast<std::size_t>(size));
  BIO_free(out);
  X509_free(c);
  return pem;
}

std::string key_pem(EVP_PKEY* key) {
  BIO* out = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  const long size = BIO_get_mem_data(out, &data);
  std::string pem(data, static_cast<std::size_t>(size));
  BIO_free(out);
  return pem;
}

class Credentials : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("talmir880-tls-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string write(const std::string& name, const std::string& text, bool private_file = true) {
    const std::string path = (folder_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    if (private_file) testing::make_owner_only(path);
    return path;
  }

  fs::path folder_;
};

TEST_F(Credentials, EachFaultNamesItsFileBeforeAnythingListens) {
  const Key key = new_key(false);
  const Key other = new_key(false);
  const std::string good = write("good.pem", certificate(key.get(), -60, 3600));
  const std::string own_key = write("key.pem", key_pem(key.get()));
  struct Case {
    std::string what;
    std::string certificate;
    std::string key;
    std::string why;
  };
  const std::vector<Case> cases = {
      {"missing", (folder_ / "none.pem").string(), own_key,
       (folder_ / "none.pem").string() + ": no such file"},
      {"not PEM", write("text.pem", "certificate\n"), own_key,
       (folder_ / "text.pem").string() + ": not a PEM certificate"},
      {"a key that is none", good, write("bad-key.pem", "key\n"),
       (folder_ / "bad-key.pem").string() + ": not a PEM private key (or one with a passphrase)"},
      {"another's key", good, write("other.pem", key_pem(other.get())),
       (folder_ / "other.pem").string() + ": not the key of the certificate in " + good},
      {"expired", write("old.pem", certificate(key.get(), -7200, -3600)), own_key,
       (folder_ / "old.pem").string() + ": expired"},
      {"not yet valid", write("new.pem", certificate(key.get(), 3600, 7200)), own_key,
       (folder_ / "new.pem").string() + ": not valid yet"},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_FALSE(read_owned(c.certificate, c.key, why)) << c.what;
    EXPECT_EQ(why, c.why) << c.what;
  }
  // A key others may read is refused as the password file is.
  const std::string open_key = write("open.pem", key_pem(key.get()), false);
  testing::let_everyone_read(open_key);
  std::string why;
  EXPECT_FALSE(read_owned(good, open_key, why));
  EXPECT_NE(why.find("chmod 600 " + open_key), std::string::npos) << why;
}

TEST_F(Credentials, TheOwnersChainAndRsaKeyAreServedWithTheFingerprint) {
  const Key ca = new_key(false);
  const Key key = new_key(true);
  const std::string chain =
      certificate(key.get(), -60, 3600, ca.get()) + certificate(ca.get(), -60, 7200);
  std::string why;
  const std::optional<tls::Credentials> owned =
      read_owned(write("chain.pem", chain), write("key.pem", key_pem(key.get())), why);
  ASSERT_TRUE(owned) << why;
  EXPECT_TRUE(owned->rsa);
  EXPECT_EQ(owned->chain_pem, chain) << "the chain, in its order";
  EXPECT_EQ(owned->fingerprint.size(), 32u * 3 - 1);
  EXPECT_EQ(owned->fingerprint[2], ':');
}

TEST_F(Credentials, MadeAtFirstStartKeptForTheNextReplacedWhenExpired) {
  const fs::path state = folder_ / "state" / "talmir880";
  bool made = false;
  std::string why;
  const std::optional<tls::Credentials> first =
      kept_or_made(state, {"localhost", "bench"}, {"127.0.0.1", "::1"}, made, why);
  ASSERT_TRUE(first) << why;
  EXPECT_TRUE(made);
  EXPECT_FALSE(first->rsa);
  EXPECT_EQ(
      (fs::status(state / kMadeKey).permissions() & (fs::perms::group_all | fs::perms::others_all)),
      fs::perms::none);
  const std::optional<tls::Credentials> again = kept_or_made(state, {"localhost"}, {}, made, why);
  ASSERT_TRUE(again) << why;
  EXPECT_FALSE(made);
  EXPECT_EQ(again->fingerprint, first->fingerprint);

  // An expired one is made anew; a key others may read is refused, not replaced.
  const Key key = new_key(false);
  std::ofstream(state / kMadeCertificate) << certificate(key.get(), -7200, -3600);
  std::ofstream(state / kMadeKey) << key_pem(key.get());
  const std::optional<tls::Credentials> renewed = kept_or_made(state, {"localhost"}, {}, made, why);
  ASSERT_TRUE(renewed) << why;
  EXPECT_TRUE(made);
  EXPECT_NE(renewed->fingerprint, first->fingerprint);
  testing::let_everyone_read((state / kMadeKey).string());
  EXPECT_FALSE(kept_or_made(state, {"localhost"}, {}, made, why));
  EXPECT_NE(why.find("chmod 600"), std::string::npos) << why;
}

}  // namespace
}  // namespace talmir880::tls
