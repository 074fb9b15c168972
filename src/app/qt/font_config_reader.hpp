#pragma once

#include <thread>

namespace talmir880 {

// Reads the system's font configuration on a thread of its own. Fontconfig
// parses some sixty files and its caches before the first caption can be
// measured, as long as QApplication takes to connect to the display; made
// first thing in main(), the two run side by side on a second core. Qt
// would read it again if it asked before the reading ended, so call wait()
// once QApplication exists, before any widget is made. Where the system has
// no fontconfig this does nothing.
class FontConfigReader {
 public:
  FontConfigReader();
  ~FontConfigReader();
  FontConfigReader(const FontConfigReader&) = delete;
  FontConfigReader& operator=(const FontConfigReader&) = delete;

  void wait();

 private:
  std::thread thread_;
};

}  // namespace talmir880
