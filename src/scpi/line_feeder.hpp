#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "scpi/instrument.hpp"
#include "scpi/line_splitter.hpp"

namespace talmir880::scpi {

// A client's bytes into its lines on the instrument, the same for every
// transport: cut at LF, a line handed over only while the client has room
// (a piece without LF only grows the partial line, which LineSplitter
// bounds), and at the end of input a last line without LF counts. On a
// socket any web page can reach, nothing is handed over from the first
// line of a web request on.
class LineFeeder {
 public:
  enum class Guard { none, web };

  explicit LineFeeder(Instrument& instrument, Guard guard = Guard::none)
      : instrument_(instrument), guard_(guard) {}

  // Takes what it can of the bytes now; how many it took. It stops short
  // when the client has no room for the next line (it goes on at room())
  // or when a web request came.
  std::size_t feed(ClientId client, std::string_view bytes);
  // The input is over: a partial line counts as a line. False while the
  // client has no room for it: call again at room().
  bool end(ClientId client);
  bool full(ClientId client) const {
    return instrument_.backlog(client) >= Instrument::kMaxBacklog;
  }
  bool web_request() const { return web_; }
  const std::string& partial() const { return lines_.partial(); }
  // Device clear: the partial line is dropped.
  void clear() { lines_ = {}; }

 private:
  std::size_t feed_one(ClientId client, std::string_view bytes);

  Instrument& instrument_;
  Guard guard_;
  LineSplitter lines_;
  bool web_ = false;
};

}  // namespace talmir880::scpi
