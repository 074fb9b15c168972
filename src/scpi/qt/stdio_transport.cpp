#include "scpi/qt/stdio_transport.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "device/deferred.hpp"

namespace talmir880::scpi {
namespace {

void write_line(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

StdioTransport::StdioTransport(Instrument& instrument, std::function<void(int)> done)
    : instrument_(instrument), done_(std::move(done)), input_(STDIN_FILENO, QSocketNotifier::Read) {
  // The only client, attached before anyone else can be.
  session_ = *instrument_.attach(*this, "stdio");
  QObject::connect(&input_, &QSocketNotifier::activated, &input_, [this] { read(); });
}

StdioTransport::~StdioTransport() { instrument_.detach(session_); }

void StdioTransport::answer(std::string text) { write_line(text); }

// The instrument has returned from the line that finished.
void StdioTransport::room() { feed(); }

void StdioTransport::finished() {
  for (const std::string& error : instrument_.take_errors(session_)) {
    std::fprintf(stderr, "talmir880-scpi: unread error %s\n", error.c_str());
  }
  done_(instrument_.error_seen(session_) ? 1 : 0);
}

void StdioTransport::read() {
  char buffer[4096];
  const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n > 0) {
    unfed_.append(buffer, static_cast<std::size_t>(n));
  } else {
    ended_ = true;  // end of input, or input that cannot be read
  }
  feed();
}

// The instrument's answers and room come once what it took is off unfed_.
void StdioTransport::feed() {
  unfed_.erase(0, lines_.feed(session_, unfed_));
  // Read more only once this is fed.
  input_.setEnabled(unfed_.empty() && !ended_);
  if (!ended_ || !unfed_.empty() || told_end_) return;
  // A last line without its LF still counts.
  if (!lines_.end(session_)) return;  // room() comes back
  told_end_ = true;
  instrument_.end_of_input(session_);
}

}  // namespace talmir880::scpi
