#include "link/qt/qt_serial_port.hpp"

#include <QMetaObject>
#include <QString>
#include <optional>
#include <utility>

#include "link/qt/port_names.hpp"
#include "platform/serial_device.hpp"

namespace talmir880 {
namespace {

QSerialPort::Parity parity_of(char letter) {
  switch (letter) {
    case 'o':
      return QSerialPort::OddParity;
    case 'e':
      return QSerialPort::EvenParity;
    case 'm':
      return QSerialPort::MarkParity;
    case 's':
      return QSerialPort::SpaceParity;
    default:
      return QSerialPort::NoParity;
  }
}

// The errors after which the handle is no good. The others come from calls
// this class makes itself and checks on the spot.
bool is_fatal(QSerialPort::SerialPortError error) {
  switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::UnknownError:
      return true;
    default:
      return false;
  }
}

// A descriptor on POSIX, a HANDLE on Windows.
bool hung_up(const QSerialPort& port) {
  // NOLINTNEXTLINE(google-readability-casting): either kind of handle
  return platform::hung_up(std::intptr_t(port.handle()));
}

// Qt reports a port another program holds (its lock file, or an exclusive
// open) as a permission error.
PortError::Cause open_fault(QSerialPort::SerialPortError error) {
  switch (error) {
    case QSerialPort::DeviceNotFoundError:
      return PortError::Cause::missing;
    case QSerialPort::PermissionError:
      return PortError::Cause::busy;
    default:
      return PortError::Cause::other;
  }
}

std::string comm_name(int number) { return "COM" + std::to_string(number); }

}  // namespace

QtSerialPort::QtSerialPort() : line_(parse_settings(settings_)) {
  QObject::connect(&port_, &QSerialPort::readyRead, &port_, [this] {
    if (state_ == State::Open) raise_OnComm();
  });
  QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                   [this](QSerialPort::SerialPortError error) { on_error(error); });
}

// QSerialPort closes itself as it goes, and nothing it says then is news.
QtSerialPort::~QtSerialPort() { QObject::disconnect(&port_, nullptr, nullptr, nullptr); }

void QtSerialPort::set_CommPort(int number) {
  if (number < 1 || number > 255) throw PortError("no serial port " + comm_name(number));
  if (PortOpen()) throw PortError("the port number cannot change while the port is open");
  comm_port_ = number;
}

void QtSerialPort::set_device_path(std::string path) {
  if (PortOpen()) throw PortError("the device cannot change while the port is open");
  device_path_ = std::move(path);
}

void QtSerialPort::set_Settings(const std::string& settings) {
  const LineSettings line = parse_settings(settings);
  if (PortOpen()) throw PortError("the port settings cannot change while the port is open");
  settings_ = settings;
  line_ = line;
}

void QtSerialPort::set_PortOpen(bool open_it) {
  if (!open_it) {
    close();
  } else if (state_ == State::Closed) {
    open();
  }
}

void QtSerialPort::open() {
  const std::optional<std::string> location =
      device_path_.empty() ? serial_port_location(comm_port_) : device_path_;
  if (!location) {
    throw PortError("no serial port " + comm_name(comm_port_), PortError::Cause::missing);
  }
  device_ = *location;
  port_.setPortName(QString::fromStdString(device_));
  if (!port_.open(QIODevice::ReadWrite)) {
    throw PortError(describe(port_.errorString()), open_fault(port_.error()));
  }

  // Set on the open port, so that a value the driver refuses fails the open.
  const bool configured =
      port_.setBaudRate(line_.baud) && port_.setParity(parity_of(line_.parity)) &&
      port_.setDataBits(static_cast<QSerialPort::DataBits>(line_.data_bits)) &&
      port_.setStopBits(line_.stop_bits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
      port_.setFlowControl(QSerialPort::NoFlowControl);
  if (!configured) {
    const std::string why = describe(port_.errorString());
    port_.close();
    throw PortError(why);
  }
  fault_.clear();
  fault_untold_ = false;
  ++session_;
  state_ = State::Open;
}

void QtSerialPort::close() {
  // First, so that errors raised while closing are not taken for a lost device.
  state_ = State::Closed;
  fault_untold_ = false;
  if (port_.isOpen()) port_.close();
}

void QtSerialPort::Output(std::string_view data) {
  if (state_ == State::Closed) throw PortError("the port is closed");
  if (state_ == State::Lost) throw PortError(fault_, PortError::Cause::gone);
  const auto size = static_cast<qint64>(data.size());
  if (port_.write(data.data(), size) != size) {
    throw PortError(describe(port_.errorString()), PortError::Cause::gone);
  }
}

std::string QtSerialPort::Input() {
  if (fault_untold_) {
    fault_untold_ = false;
    throw PortError(fault_, PortError::Cause::gone);
  }
  if (state_ != State::Open) return {};
  const QByteArray bytes = port_.readAll();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void QtSerialPort::on_error(QSerialPort::SerialPortError error) {
  // While opening or closing, errors are thrown or do not matter; once the
  // device is lost, the rest are echoes of the same fault.
  if (state_ != State::Open || !is_fatal(error)) return;
  lose(describe(hung_up(port_) ? QStringLiteral("the device hung up") : port_.errorString()));
}

void QtSerialPort::lose(std::string why) {
  state_ = State::Lost;
  fault_ = std::move(why);
  fault_untold_ = true;
  // Qt reports a hung-up pseudo-terminal again on every pass of the event
  // loop for as long as the handle is open, so the handle has to go. Not from
  // here, though: QSerialPort still touches its buffer after raising the
  // error. And the receiver, which may show a message box with an event loop
  // of its own, is better run from the event loop than from inside Qt.
  const unsigned session = session_;
  QMetaObject::invokeMethod(
      &port_,
      [this, session] {
        if (session != session_ || state_ != State::Lost) return;
        if (port_.isOpen()) port_.close();
        if (fault_untold_) raise_OnComm();
      },
      Qt::QueuedConnection);
}

std::string QtSerialPort::describe(const QString& what) const {
  return device_ + ": " + what.toStdString();
}

}  // namespace talmir880
