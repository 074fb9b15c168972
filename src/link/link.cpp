#include "link/link.hpp"

#include <exception>
#include <string>

namespace talmir880 {

Link::Link(SerialPort& MSComm1, Countdown& Timer1, LinkEvents& events)
    : MSComm1_(MSComm1), Timer1_(Timer1), events_(events) {}

void Link::MSComm1_OnComm() {
  std::string chunk;
  try {
    chunk = MSComm1_.Input();
  } catch (const PortError& fault) {
    events_.read_failed(fault);
    return;
  } catch (const std::exception& e) {
    events_.read_failed(PortError(e.what()));
    return;
  }
  if (receive_data.append(chunk)) {
    Timer1_.stop();
    receive_data.clear();
    events_.acknowledged();
  } else if (!chunk.empty()) {
    events_.received();
  }
}

void Link::Timer1_Timer() {
  // Off before the owner hears of it: a message box keeps the event loop
  // running, and the watchdog fires once per arming.
  Timer1_.stop();
  events_.not_acknowledged();
}

bool Link::write(std::string_view command) {
  try {
    MSComm1_.Output(command);
  } catch (const PortError& fault) {
    // The fault is this command's answer: no watchdog message after it.
    Timer1_.stop();
    events_.write_failed(fault);
    return false;
  }
  return true;
}

}  // namespace talmir880
