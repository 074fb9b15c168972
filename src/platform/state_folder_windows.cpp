#include <cstdlib>

#include "platform/state_folder.hpp"

namespace talmir880::platform {

std::filesystem::path state_folder() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  return std::filesystem::path(local != nullptr ? local : L".") / "talmir880";
}

}  // namespace talmir880::platform
