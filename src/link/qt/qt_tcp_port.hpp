#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "link/serial_port.hpp"
#include "platform/sockets.hpp"

namespace talmir880 {

// A serial port offered over a raw TCP connection, as ser2net serves one:
// the bytes go both ways untouched, and the far side sets the line, so
// Settings are checked and otherwise ignored. Plain sockets on Qt Core's
// notifiers; events arrive on the thread that made the object.
//
// Opening connects, waiting at most kConnectWait: the event loop stalls no
// longer than that, and only while the far host neither answers nor refuses.
// A refused or unanswered connection throws PortError with Cause::network,
// a host name that does not resolve Cause::unresolved. A connection that drops while open (the peer
// closes or resets it, or it goes silent past the keep-alive and retransmission limits) is reported
// as QtSerialPort reports a pulled adapter: OnComm, then the next Input throws (Cause::network),
// and Output throws until closed.
class QtTcpPort final : public SerialPort {
 public:
  // A link that cannot connect within this time could not carry a command
  // and its R within the 500 ms watchdog either.
  static constexpr std::chrono::milliseconds kConnectWait{200};

  // HOST is an address (IPv6 without brackets) or a name, looked up at each open.
  QtTcpPort(std::string host, int port);
  ~QtTcpPort() override;
  QtTcpPort(const QtTcpPort&) = delete;
  QtTcpPort& operator=(const QtTcpPort&) = delete;

  void set_CommPort(int) override {}
  void set_Settings(const std::string& settings) override;
  bool PortOpen() const override { return state_ != State::Closed; }
  void set_PortOpen(bool open) override;
  void Output(std::string_view data) override;
  std::string Input() override;

  // "tcp:HOST:PORT", an IPv6 host in brackets, for messages.
  const std::string& name() const { return name_; }

  // Whether HOST is an address or a name that resolves now; the resolver's
  // reason in `why` when not.
  static bool resolves(const std::string& host, std::string& why);

 private:
  enum class State { Closed, Open, Lost };

  void open();
  void close();
  void drop_socket();
  void readable();
  void flush();
  void lose(std::string why);

  std::string host_;
  int port_;
  std::string name_;
  platform::Socket socket_ = platform::kNoSocket;
  State state_ = State::Closed;
  // Bumped by each open, so a late call queued for an earlier connection
  // stays away from the one made since.
  unsigned session_ = 0;
  std::string received_;
  // Bytes the socket had no room for yet; sent when it is writable.
  std::string pending_;
  std::string fault_;
  bool fault_untold_ = false;
  std::unique_ptr<QSocketNotifier> read_notifier_;
  std::unique_ptr<QSocketNotifier> write_notifier_;
  // Last, so it goes first: the calls queued on it refer to the members above.
  QObject context_;
};

}  // namespace talmir880
