#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace talmir880::testing {

// A private XDG_RUNTIME_DIR for one test, so its ports folder is the test's
// own; the user's value comes back afterwards. Child processes inherit it.
class TempRuntimeDir {
 public:
  explicit TempRuntimeDir(const std::string& tag) {
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) saved_ = old;
    std::string templ = "/tmp/" + tag + "-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
    setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
  }
  ~TempRuntimeDir() {
    if (saved_) {
      setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempRuntimeDir(const TempRuntimeDir&) = delete;
  TempRuntimeDir& operator=(const TempRuntimeDir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::optional<std::string> saved_;
  std::string path_;
};

}  // namespace talmir880::testing
