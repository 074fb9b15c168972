#include "web/routes.hpp"

#include <algorithm>
#include <charconv>

namespace talmir880::web {
namespace {

// "inst<i>" in any case, as VXI-11 takes a device name, with i written
// as it names devices: no sign, no leading zero, one of the server's
// generators.
std::optional<std::size_t> generator_named(std::string_view name, std::size_t generators) {
  constexpr std::string_view kPrefix = "inst";
  if (name.size() < kPrefix.size() ||
      !std::equal(kPrefix.begin(), kPrefix.end(), name.begin(), [](char a, char b) {
        return a == (b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b);
      })) {
    return std::nullopt;
  }
  const std::string_view digits = name.substr(kPrefix.size());
  if (digits.empty() || digits.size() > 4 || (digits.size() > 1 && digits[0] == '0')) {
    return std::nullopt;
  }
  std::size_t index = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
  if (ec != std::errc{} || end != digits.data() + digits.size() || index >= generators) {
    return std::nullopt;
  }
  return index;
}

}  // namespace

std::string generator_path(std::size_t generator) {
  return "/inst" + std::to_string(generator) + "/";
}

Route route(std::string_view path, std::size_t generators) {
  using Kind = Route::Kind;
  const bool one = generators == 1;
  if (path == "/") return one ? Route{Kind::panel, 0} : Route{Kind::list, {}};
  if (path == "/ws") return one ? Route{Kind::live, 0} : Route{};
  if (path == "/lxi/identification") {
    return one ? Route{Kind::identification, 0} : Route{Kind::identification, {}};
  }
  if (path == "/login") return {Kind::login, {}};
  if (path == "/logout") return {Kind::logout, {}};
  for (const Asset& asset : kAssets) {
    if (path == asset.path) return {Kind::asset, {}};
  }
  if (path.substr(0, 1) != "/") return {};
  const std::string_view rest = path.substr(1);
  const std::size_t slash = rest.find('/');
  const std::optional<std::size_t> generator = generator_named(rest.substr(0, slash), generators);
  if (!generator) return {};
  if (slash == std::string_view::npos) return {Kind::moved, generator};
  const std::string_view inside = rest.substr(slash);
  if (inside == "/") return {Kind::panel, generator};
  if (inside == "/ws") return {Kind::live, generator};
  if (inside == "/lxi/identification") return {Kind::identification, generator};
  return {};
}

}  // namespace talmir880::web
