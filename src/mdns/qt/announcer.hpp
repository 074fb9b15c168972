#pragma once

// Groups of DNS-SD services announced through the system's Avahi daemon, on
// Qt's event loop. Each group is an entry group of its own, so one comes and
// goes without touching the others. A name taken on the network is renamed
// the Avahi way; a daemon that is not there, or goes, is waited for while
// the program serves on; everything is withdrawn when the Announcer goes.

#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mdns/qt/qt_avahi_poll.hpp"
#include "mdns/services.hpp"

struct AvahiClient;

namespace talmir880::mdns {

class Announcer {
 public:
  using Say = std::function<void(const std::string&)>;

  // Announces nothing until set(); `say` gets one line for what the user
  // should know: announced, renamed, off and why.
  explicit Announcer(Say say);
  ~Announcer();
  Announcer(const Announcer&) = delete;
  Announcer& operator=(const Announcer&) = delete;

  // What to announce from now on: a group already announced as it is stays
  // untouched, the others are withdrawn or added.
  void set(const std::vector<Group>& groups);

 private:
  struct Entry;
  struct Callbacks;  // Avahi's, in C

  void connect_client();
  void drop_client();
  void client_changed(AvahiClient* client, int state);
  void publish(Entry& entry);
  void rename(Entry& entry);
  void group_changed(Entry& entry, int state);

  Say say_;
  QtAvahiPoll poll_;
  AvahiClient* client_ = nullptr;
  bool running_ = false;
  // One line an outage: set when the user was told announcing is off.
  bool said_off_ = false;
  std::vector<std::unique_ptr<Entry>> entries_;
  // A client again: at once after the daemon went, later when no bus was there.
  QTimer again_;
};

}  // namespace talmir880::mdns
