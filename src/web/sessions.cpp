#include "web/sessions.hpp"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "platform/private_file.hpp"

namespace talmir880::web {
namespace {

// Takes as long whatever the attempt holds, so its timing tells nothing.
bool same_secret(std::string_view a, std::string_view b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i] ^ b[i % std::max<std::size_t>(b.size(), 1)]);
  }
  return diff == 0 && !b.empty();
}

}  // namespace

PasswordFile read_password_file(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error) return {{}, "cannot read " + path + ": " + error.message()};
  if (fs::is_directory(status)) {
    return {
        {},
        "cannot read " + path + ": " + std::make_error_code(std::errc::is_a_directory).message()};
  }
  if (std::optional<std::string> open = platform::open_to_others(path)) return {{}, *open};
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return {{}, "cannot read " + path + ": " + std::generic_category().message(errno)};
  }
  std::string line;
  line.resize(kMaxPassword + 2);
  in.read(line.data(), static_cast<std::streamsize>(line.size()));
  line.resize(static_cast<std::size_t>(in.gcount()));
  line = line.substr(0, line.find('\n'));
  if (line.ends_with('\r')) line.pop_back();
  if (line.empty()) return {{}, path + ": the first line is empty; it must hold the password"};
  if (line.size() > kMaxPassword) {
    return {{}, path + ": the password is longer than " + std::to_string(kMaxPassword) + " bytes"};
  }
  return {line, {}};
}

Sessions::Sessions(std::string password, std::function<std::string()> random_token)
    : password_(std::move(password)), random_token_(std::move(random_token)) {}

std::optional<std::string> Sessions::log_in(std::string_view attempt, Clock::time_point now) {
  if (!password_set() || now < paused_until_) return std::nullopt;
  if (!same_secret(attempt, password_)) {
    paused_until_ = now + kPause;
    return std::nullopt;
  }
  std::erase_if(sessions_, [now](const auto& s) { return now - s.second >= kLifetime; });
  if (sessions_.size() >= kMaxSessions) {
    sessions_.erase(std::min_element(sessions_.begin(), sessions_.end(),
                                     [](auto& a, auto& b) { return a.second < b.second; }));
  }
  std::string token = random_token_();
  sessions_[token] = now;
  return token;
}

std::optional<std::string> Sessions::token_in(std::string_view cookie_header) const {
  // name=value pairs separated by "; ".
  while (!cookie_header.empty()) {
    const std::size_t end = cookie_header.find(';');
    std::string_view pair = cookie_header.substr(0, end);
    while (pair.starts_with(' ')) pair.remove_prefix(1);
    if (pair.starts_with(kCookieName) && pair.substr(kCookieName.size()).starts_with('=')) {
      return std::string(pair.substr(kCookieName.size() + 1));
    }
    if (end == std::string_view::npos) break;
    cookie_header.remove_prefix(end + 1);
  }
  return std::nullopt;
}

bool Sessions::valid(std::string_view cookie_header, Clock::time_point now) {
  const std::optional<std::string> token = token_in(cookie_header);
  if (!token) return false;
  const auto at = sessions_.find(*token);
  if (at == sessions_.end()) return false;
  if (now - at->second >= kLifetime) {
    sessions_.erase(at);
    return false;
  }
  return true;
}

void Sessions::log_out(std::string_view cookie_header) {
  if (const std::optional<std::string> token = token_in(cookie_header)) sessions_.erase(*token);
}

std::string Sessions::cookie(std::string_view token, bool secure) {
  return std::string(kCookieName) + "=" + std::string(token) +
         "; Path=/; HttpOnly; SameSite=Strict" + (secure ? "; Secure" : "");
}

std::string Sessions::expired_cookie(bool secure) {
  return std::string(kCookieName) + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0" +
         (secure ? "; Secure" : "");
}

std::string system_random_token() {
  std::random_device source;  // /dev/urandom on Linux
  constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 8; ++i) {
    const unsigned word = source();
    for (int shift = 0; shift < 32; shift += 4) out.push_back(kHex[(word >> shift) & 0xf]);
  }
  return out;
}

}  // namespace talmir880::web
