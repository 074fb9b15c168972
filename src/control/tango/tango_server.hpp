#pragma once

// The generator served as a Tango device of class Talmir880. Tango's own
// header stays inside this room's .cpp files; this one names none of it.
//
// Threads: the core (the generator, its line and the other faces) runs on
// the thread that made the server, in its event loop. Tango serves
// requests on threads of its own: reads answer from the face's snapshot,
// writes and commands are posted to the core's thread and waited for (at
// most kWait); events are pushed from a thread of this face's own, never
// from the core's.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "control/device_face.hpp"

namespace talmir880::control {

// Inside Tango's 3 s client timeout.
inline constexpr std::chrono::milliseconds kWait{2000};
// Events of one attribute at most this often during a pass (20 a second).
inline constexpr std::chrono::milliseconds kEventSpacing{50};

// The properties Tango reads for a device: SerialPort, ScpiListen, ...
using Properties = std::map<std::string, std::string>;

// Builds a device's generator from its properties, on the core's thread:
// its face, or nothing with why in `error` (one sentence), which the device
// then shows as its status in State FAULT.
using MakeFace = std::function<DeviceFace*(const std::string& device, const Properties& properties,
                                           std::string& error)>;

// The names of the properties a device reads.
inline constexpr const char* kPropertyNames[] = {"SerialPort",  "ScpiListen",    "HttpListen",
                                                 "OffAtExit",   "OffWhenUnused", "OffAfter",
                                                 "LeaveRunning"};

class TangoServer {
 public:
  // Tango's own arguments (INSTANCE, -file=..., -ORBendPoint ...). Throws
  // std::runtime_error with Tango's words when it will not start.
  TangoServer(int argc, char** argv, MakeFace make);
  ~TangoServer();
  TangoServer(const TangoServer&) = delete;
  TangoServer& operator=(const TangoServer&) = delete;

  // Makes and exports the devices, calling `make` on this thread; then
  // serves requests on a thread of its own until stop().
  void start();
  // A stop signal came (on Tango's signal thread).
  void on_stop_signal(std::function<void()> stop);
  // Ends the process with `status` once the core has done its last work
  // (the switch-off at exit). Tango 9.3 cannot be shut down from within:
  // its ORB's shutdown deletes the devices a second time, and its own
  // shutdown_ds joins a heartbeat thread a server without a database
  // never started; the operating system closes the sockets and the port.
  [[noreturn]] static void end(int status);

 private:
  struct Running;
  std::unique_ptr<Running> running_;
};

}  // namespace talmir880::control
