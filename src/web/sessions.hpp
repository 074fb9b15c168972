#pragma once

// The password of --http-password-file and the sessions it opens: a random
// token in a cookie the page's script cannot read (HttpOnly) and other
// sites' pages do not send (SameSite=Strict). The password itself is only
// ever in a request's body.

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace talmir880::web {

inline constexpr std::string_view kCookieName = "talmir880_session";
inline constexpr std::size_t kMaxPassword = 256;

// The first line of the file, without its line end; an error text when the
// file cannot be read, when group or others may use it (as ssh refuses a
// private key), or when its first line is empty or too long.
struct PasswordFile {
  std::string password;
  std::string error;
};
PasswordFile read_password_file(const std::string& path);

class Sessions {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::size_t kMaxSessions = 32;
  static constexpr Clock::duration kLifetime = std::chrono::hours(12);
  // After a wrong password no login is tried for this long, whoever asks:
  // a guesser gets one try a second.
  static constexpr Clock::duration kPause = std::chrono::seconds(1);

  // No password: nobody logs in. `random_token` gives a fresh unguessable
  // token each call.
  Sessions(std::string password, std::function<std::string()> random_token);

  bool password_set() const { return !password_.empty(); }
  // A new session's token, or nothing for a wrong password or during the
  // pause. The oldest session makes room for a new one past kMaxSessions.
  std::optional<std::string> log_in(std::string_view attempt, Clock::time_point now);
  // Whether a Cookie header carries a live session.
  bool valid(std::string_view cookie_header, Clock::time_point now);
  void log_out(std::string_view cookie_header);

  // The Set-Cookie value for a token, and the one that removes it.
  // Secure over TLS: the browser then never sends it over plain HTTP.
  static std::string cookie(std::string_view token, bool secure = false);
  static std::string expired_cookie(bool secure = false);

 private:
  std::optional<std::string> token_in(std::string_view cookie_header) const;

  std::string password_;
  std::function<std::string()> random_token_;
  std::map<std::string, Clock::time_point> sessions_;  // token, when it began
  Clock::time_point paused_until_{};
};

// 32 bytes from the system's random source as hex.
std::string system_random_token();

}  // namespace talmir880::web
