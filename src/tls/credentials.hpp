#pragma once

// The web page's TLS certificate and key: the owner's own, read and checked
// before anything listens, or one made at first start and kept for the next.
// OpenSSL's libcrypto reads, checks and makes them; the Qt face serves them.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace talmir880::tls {

struct Credentials {
  std::string chain_pem;  // the certificate first, then any chain
  std::string key_pem;
  bool rsa = false;         // else an EC key
  std::string fingerprint;  // SHA-256 of the certificate: "AB:CD:…", 32 pairs
};

// How long a made certificate is good for: what browsers take at most for
// a server's.
inline constexpr int kMadeValidDays = 397;
// The files of a made certificate, in the folder given.
inline constexpr const char* kMadeCertificate = "tls-certificate.pem";
inline constexpr const char* kMadeKey = "tls-key.pem";

// The owner's certificate (PEM, a chain allowed) and key. Nothing, and
// `why` one sentence naming the file and its fault, for a file missing or
// unreadable, not PEM, a key others may read, a key that is not the
// certificate's, or a certificate out of its dates.
std::optional<Credentials> read_owned(const std::string& certificate, const std::string& key,
                                      std::string& why);

// The one kept in `folder` when it is there and still good; otherwise one
// made now (ECDSA P-256, self-signed, the names and addresses as its
// subject alternative names, kMadeValidDays) and kept there, its key
// readable by its owner alone. `made` tells which.
std::optional<Credentials> kept_or_made(const std::filesystem::path& folder,
                                        const std::vector<std::string>& names,
                                        const std::vector<std::string>& addresses, bool& made,
                                        std::string& why);

}  // namespace talmir880::tls
