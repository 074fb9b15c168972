#include "scpi/qt/stdio_transport.hpp"

#include <unistd.h>

#include <QMetaObject>
#include <cerrno>
#include <cstdio>

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
  instrument_.answer = [](ClientId, const std::string& text) { write_line(text); };
  // From the event loop: the instrument is still busy with the line that
  // just finished.
  instrument_.room = [this](ClientId) {
    QMetaObject::invokeMethod(
        &input_, [this] { feed(); }, Qt::QueuedConnection);
  };
  QObject::connect(&input_, &QSocketNotifier::activated, &input_, [this] { read(); });
}

StdioTransport::~StdioTransport() {
  instrument_.answer = nullptr;
  instrument_.room = nullptr;
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

void StdioTransport::feed() {
  while (!unfed_.empty() && instrument_.backlog(kSession) < Instrument::kMaxBacklog) {
    unfed_.erase(
        0, lines_.feed_one(
               unfed_, [this](std::string line) { instrument_.submit(kSession, std::move(line)); },
               [this] { instrument_.overrun(kSession); }));
  }
  // Read more only once this is fed.
  input_.setEnabled(unfed_.empty() && !ended_);
  if (ended_ && unfed_.empty()) {
    // A last line without its LF still counts.
    if (!lines_.partial().empty()) {
      unfed_ = "\n";
      feed();
      return;
    }
    finish_when_idle();
  }
}

void StdioTransport::finish_when_idle() {
  if (finished_ || !instrument_.idle()) return;  // the next room() looks again
  finished_ = true;
  done_(instrument_.error_seen() ? 1 : 0);
}

}  // namespace talmir880::scpi
