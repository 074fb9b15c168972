#include "scpi/qt/stdio_transport.hpp"

#include <unistd.h>

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
  QObject::connect(&input_, &QSocketNotifier::activated, &input_, [this] { read(); });
  // After the end of input the last commands may still wait for the device
  // (a sweep pass, an acknowledgement): look again now and then until done.
  wait_.setInterval(20);
  QObject::connect(&wait_, &QTimer::timeout, &wait_, [this] { finish_when_idle(); });
}

StdioTransport::~StdioTransport() { instrument_.answer = nullptr; }

void StdioTransport::read() {
  char buffer[4096];
  const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n > 0) {
    lines_.feed({buffer, static_cast<std::size_t>(n)},
                [this](std::string line) { instrument_.submit(kSession, std::move(line)); },
                [this] { instrument_.overrun(kSession); });
    return;
  }
  // End of input (or an input that cannot be read): a last line without its
  // LF still counts.
  input_.setEnabled(false);
  if (!lines_.partial().empty()) lines_.feed("\n", [this](std::string line) {
      instrument_.submit(kSession, std::move(line));
    }, [] {});
  wait_.start();
  finish_when_idle();
}

void StdioTransport::finish_when_idle() {
  if (!instrument_.idle()) return;
  wait_.stop();
  done_(instrument_.errors_queued() ? 1 : 0);
}

}  // namespace talmir880::scpi
