#include "app/qt/font_config_reader.hpp"

#if TALMIR880_HAVE_FONTCONFIG
#include <fontconfig/fontconfig.h>
#endif

namespace talmir880 {

FontConfigReader::FontConfigReader() {
#if TALMIR880_HAVE_FONTCONFIG
  thread_ = std::thread([] { FcInit(); });
#endif
}

FontConfigReader::~FontConfigReader() { wait(); }

void FontConfigReader::wait() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace talmir880
