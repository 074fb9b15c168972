#pragma once

// What a path names on a web face that serves one generator or several.
//
// One generator keeps the paths it always had: its front panel on /, its
// live link on /ws, its identification on /lxi/identification. Several:
// / lists them and /lxi/identification names every way in to each;
// generator i has its front panel on /inst<i>/, its live link on
// /inst<i>/ws and its own identification under /inst<i>/ as well, as
// VXI-11 names it inst<i> (in any case, as VXI-11 takes it). /inst0/
// serves a single generator too.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace talmir880::web {

// The pages' shared style and scripts, each by its path and type: texts.js
// is made from the pages' words, the others are files the program carries
// under the same names.
struct Asset {
  std::string_view path;
  std::string_view type;
};
inline constexpr Asset kAssets[] = {
    {"/page.css", "text/css; charset=utf-8"},
    {"/page.js", "text/javascript; charset=utf-8"},
    {"/recorder.js", "text/javascript; charset=utf-8"},
    {"/list.js", "text/javascript; charset=utf-8"},
    {"/lang.js", "text/javascript; charset=utf-8"},
    {"/texts.js", "text/javascript; charset=utf-8"},
};

struct Route {
  enum class Kind {
    not_found,
    asset,           // the pages' shared style and scripts
    panel,           // a generator's front panel
    live,            // its WebSocket
    identification,  // an LXI identification: a generator's, or the server's
    list,            // the list of generators
    moved,           // /inst<i> without its slash
    login,
    logout,
  };
  Kind kind = Kind::not_found;
  // The generator the path is about; none for the server's own.
  std::optional<std::size_t> generator;

  bool operator==(const Route&) const = default;
};

// The route of a request's path (without its query) on a server of
// `generators` generators, at least one.
Route route(std::string_view path, std::size_t generators);

// The path prefix of generator i, "/inst<i>/".
std::string generator_path(std::size_t generator);

}  // namespace talmir880::web
