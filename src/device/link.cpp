#include "device/link.hpp"

namespace talmir880 {

Link::Link(SerialPort& port, Countdown& watchdog, LinkEvents& events)
    : port_(port), watchdog_(watchdog), events_(events) {}

void Link::replied(const LineReply& reply) {
  receive_data.append(reply.text);
  if (reply.acknowledges) {
    watchdog_.stop();
    receive_data.clear();
    events_.acknowledged();
  } else if (!reply.text.empty()) {
    events_.received();
  }
}

void Link::watchdog_ran_out() {
  // Off before the owner hears of it: a message box keeps the event loop
  // running, and the watchdog fires once per arming.
  watchdog_.stop();
  events_.not_acknowledged();
}

bool Link::write(std::string_view command) {
  try {
    port_.Output(command);
  } catch (const PortError& fault) {
    // The fault is this command's answer: no watchdog message after it.
    watchdog_.stop();
    events_.write_failed(fault);
    return false;
  }
  return true;
}

}  // namespace talmir880
