#include "link/qt/qt_tcp_port.hpp"

#include <QMetaObject>
#include <utility>

namespace talmir880 {
namespace {

std::string address_name(const std::string& host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return "tcp:" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

QtTcpPort::QtTcpPort(std::string host, int port)
    : host_(std::move(host)), port_(port), name_(address_name(host_, port_)) {}

QtTcpPort::~QtTcpPort() {
  read_notifier_.reset();
  write_notifier_.reset();
  platform::close_socket(socket_);
}

void QtTcpPort::set_Settings(const std::string& settings) {
  // The far side sets the line; a setting it could never take is still a mistake.
  parse_settings(settings);
}

void QtTcpPort::set_PortOpen(bool open_it) {
  if (!open_it) {
    close();
  } else if (state_ == State::Closed) {
    open();
  }
}

void QtTcpPort::open() {
  const platform::Connected connected = platform::connect_tcp(host_, port_, kConnectWait);
  if (connected.unresolved) {
    throw PortError(name_ + ": " + connected.error, PortError::Cause::unresolved);
  }
  if (connected.socket == platform::kNoSocket) {
    throw PortError(name_ + ": " + connected.error, PortError::Cause::network);
  }

  socket_ = connected.socket;
  received_.clear();
  pending_.clear();
  fault_.clear();
  fault_untold_ = false;
  ++session_;
  state_ = State::Open;
  read_notifier_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Read);
  QObject::connect(read_notifier_.get(), &QSocketNotifier::activated, &context_,
                   [this] { readable(); });
  write_notifier_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Write);
  write_notifier_->setEnabled(false);
  QObject::connect(write_notifier_.get(), &QSocketNotifier::activated, &context_,
                   [this] { flush(); });
}

bool QtTcpPort::resolves(const std::string& host, std::string& why) {
  why = platform::resolve_error(host);
  return why.empty();
}

void QtTcpPort::close() {
  state_ = State::Closed;
  fault_untold_ = false;
  drop_socket();
}

// Not deleted at once: the notifier whose signal is running may be one of them.
void QtTcpPort::drop_socket() {
  for (std::unique_ptr<QSocketNotifier>* notifier : {&read_notifier_, &write_notifier_}) {
    if (!*notifier) continue;
    (*notifier)->setEnabled(false);
    notifier->release()->deleteLater();
  }
  platform::close_socket(socket_);
  socket_ = platform::kNoSocket;
  pending_.clear();
}

void QtTcpPort::Output(std::string_view data) {
  if (state_ == State::Closed) throw PortError("the port is closed");
  if (state_ == State::Lost) throw PortError(fault_, PortError::Cause::network);
  pending_.append(data);
  flush();
  if (state_ != State::Open) {
    // Told here, as the write's own fault: no OnComm after it.
    fault_untold_ = false;
    throw PortError(fault_, PortError::Cause::network);
  }
}

void QtTcpPort::flush() {
  if (state_ != State::Open) return;
  while (!pending_.empty()) {
    const platform::Transfer sent = platform::send_some(socket_, pending_.data(), pending_.size());
    if (sent.outcome == platform::Outcome::would_block) break;
    if (sent.outcome != platform::Outcome::done) {
      lose(name_ + ": " + platform::last_error());
      return;
    }
    pending_.erase(0, sent.bytes);
  }
  write_notifier_->setEnabled(!pending_.empty());
}

std::string QtTcpPort::Input() {
  if (fault_untold_) {
    fault_untold_ = false;
    throw PortError(fault_, PortError::Cause::network);
  }
  return std::exchange(received_, {});
}

void QtTcpPort::readable() {
  if (state_ != State::Open) return;
  std::string why;
  char buffer[4096];
  for (;;) {
    const platform::Transfer got = platform::receive(socket_, buffer, sizeof buffer);
    if (got.outcome == platform::Outcome::done) {
      received_.append(buffer, got.bytes);
      continue;
    }
    if (got.outcome == platform::Outcome::would_block) break;
    why = got.outcome == platform::Outcome::ended ? std::string("the far end closed the connection")
                                                  : platform::last_error();
    break;
  }
  const unsigned session = session_;
  if (!received_.empty()) raise_OnComm();
  // What came before the end is told first; the receiver may have closed since.
  if (!why.empty() && session == session_ && state_ == State::Open) lose(name_ + ": " + why);
}

void QtTcpPort::lose(std::string why) {
  state_ = State::Lost;
  fault_ = std::move(why);
  fault_untold_ = true;
  drop_socket();
  // From the event loop, as QtSerialPort tells a pulled adapter: the
  // receiver may run an event loop of its own.
  const unsigned session = session_;
  QMetaObject::invokeMethod(
      &context_,
      [this, session] {
        if (session == session_ && state_ == State::Lost && fault_untold_) raise_OnComm();
      },
      Qt::QueuedConnection);
}

}  // namespace talmir880
