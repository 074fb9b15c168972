#include "mdns/qt/announcer.hpp"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include <algorithm>
#include <chrono>

namespace talmir880::mdns {
namespace {

// A client again after no bus could be reached: a bus that starts later is
// found within this, at the cost of one failed connect each time.
constexpr std::chrono::seconds kBusRetry{5};
// Avahi's alternatives run "NAME #2", "NAME #3", ...: more than enough.
constexpr int kMaxRenames = 50;

std::string quoted(const std::string& name) { return "\"" + name + "\""; }

std::string services_text(const Group& group) {
  std::string out;
  for (const Service& s : group.services) {
    if (!out.empty()) out += ", ";
    out += s.type + " on port " + std::to_string(s.port);
  }
  return out;
}

AvahiIfIndex interface_of(const Scope& scope) {
  return scope.interface ? static_cast<AvahiIfIndex>(*scope.interface) : AVAHI_IF_UNSPEC;
}

AvahiProtocol protocol_of(const Scope& scope) {
  switch (scope.family) {
    case Family::ipv4:
      return AVAHI_PROTO_INET;
    case Family::ipv6:
      return AVAHI_PROTO_INET6;
    case Family::any:
      break;
  }
  return AVAHI_PROTO_UNSPEC;
}

// Avahi sends a string list from its head, and adding puts in front: so
// the records are added last first, to keep txtvers=1 first on the wire.
AvahiStringList* string_list(const std::vector<std::string>& records) {
  AvahiStringList* list = nullptr;
  for (auto r = records.rbegin(); r != records.rend(); ++r) {
    list = avahi_string_list_add(list, r->c_str());
  }
  return list;
}

}  // namespace

struct Announcer::Entry {
  Announcer& owner;
  Group wanted;
  std::string name;  // as announced: the wanted one, or Avahi's alternative
  AvahiEntryGroup* group = nullptr;
};

struct Announcer::Callbacks {
  static void client(AvahiClient* client, AvahiClientState state, void* self) {
    static_cast<Announcer*>(self)->client_changed(client, state);
  }
  static void group(AvahiEntryGroup* group, AvahiEntryGroupState state, void* entry) {
    Entry& e = *static_cast<Entry*>(entry);
    e.group = group;  // also while avahi_entry_group_new() has not returned it yet
    e.owner.group_changed(e, state);
  }
};

Announcer::Announcer(Say say) : say_(std::move(say)) {
  again_.setSingleShot(true);
  QObject::connect(&again_, &QTimer::timeout, &again_, [this] {
    drop_client();
    connect_client();
  });
  connect_client();
}

Announcer::~Announcer() {
  // Each group withdrawn while the daemon is there to hear it.
  for (const std::unique_ptr<Entry>& e : entries_) {
    if (e->group != nullptr) avahi_entry_group_free(e->group);
    e->group = nullptr;
  }
  drop_client();
}

void Announcer::connect_client() {
  // Without a daemon yet the client waits for one (AVAHI_CLIENT_CONNECTING);
  // only a system bus that cannot be reached fails here.
  int error = 0;
  AvahiClient* client =
      avahi_client_new(poll_.api(), AVAHI_CLIENT_NO_FAIL, Callbacks::client, this, &error);
  client_ = client;
  if (client != nullptr) return;
  if (!said_off_) {
    // libdbus's "file not found": no socket where the system bus listens.
    say_(error == AVAHI_ERR_NO_DAEMON
             ? std::string("DNS-SD off: the system's D-Bus is not running, so avahi-daemon cannot "
                           "be reached; serving unannounced until it is")
             : std::string("DNS-SD off: cannot reach avahi-daemon (") + avahi_strerror(error) +
                   "); serving unannounced until it can be");
    said_off_ = true;
  }
  again_.start(kBusRetry);
}

void Announcer::drop_client() {
  running_ = false;
  // Freeing the client frees its groups.
  for (const std::unique_ptr<Entry>& e : entries_) e->group = nullptr;
  if (client_ != nullptr) avahi_client_free(client_);
  client_ = nullptr;
}

void Announcer::client_changed(AvahiClient* client, int state) {
  client_ = client;  // before avahi_client_new() has returned it, too
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      running_ = true;
      said_off_ = false;
      for (const std::unique_ptr<Entry>& e : entries_) publish(*e);
      break;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
      // The daemon is choosing the host's name: the records come again
      // once it runs under the one it chose.
      running_ = false;
      for (const std::unique_ptr<Entry>& e : entries_) {
        if (e->group != nullptr) avahi_entry_group_reset(e->group);
      }
      break;
    case AVAHI_CLIENT_CONNECTING:
      running_ = false;
      if (!said_off_) {
        say_("DNS-SD off: avahi-daemon is not running; serving unannounced until it starts");
        said_off_ = true;
      }
      break;
    case AVAHI_CLIENT_FAILURE:
    default:
      running_ = false;
      if (!said_off_) {
        const int error = avahi_client_errno(client);
        say_(error == AVAHI_ERR_DISCONNECTED
                 ? std::string("DNS-SD: avahi-daemon went away; announcing again once it is back")
                 : std::string("DNS-SD off: ") + avahi_strerror(error) +
                       "; announcing again once avahi-daemon is back");
        said_off_ = true;
      }
      // Not from inside the client's own callback.
      again_.start(0);
      break;
  }
}

void Announcer::set(const std::vector<Group>& groups) {
  std::erase_if(entries_, [&groups](const std::unique_ptr<Entry>& e) {
    if (std::find(groups.begin(), groups.end(), e->wanted) != groups.end()) return false;
    if (e->group != nullptr) avahi_entry_group_free(e->group);  // withdrawn
    return true;
  });
  for (const Group& g : groups) {
    const bool there =
        std::any_of(entries_.begin(), entries_.end(),
                    [&g](const std::unique_ptr<Entry>& e) { return e->wanted == g; });
    if (there) continue;
    entries_.push_back(std::make_unique<Entry>(Entry{*this, g, g.name, nullptr}));
    if (running_) publish(*entries_.back());
  }
}

void Announcer::publish(Entry& entry) {
  if (entry.group == nullptr)
    entry.group = avahi_entry_group_new(client_, Callbacks::group, &entry);
  if (entry.group == nullptr) {
    say_("DNS-SD: cannot announce " + quoted(entry.name) + ": " +
         avahi_strerror(avahi_client_errno(client_)));
    return;
  }
  if (!avahi_entry_group_is_empty(entry.group)) return;  // already on its way
  for (int renames = 0;; ++renames) {
    int error = AVAHI_OK;
    for (const Service& s : entry.wanted.services) {
      AvahiStringList* txt = string_list(s.txt);
      error = avahi_entry_group_add_service_strlst(
          entry.group, interface_of(s.scope), protocol_of(s.scope),
          static_cast<AvahiPublishFlags>(0), entry.name.c_str(), s.type.c_str(), nullptr, nullptr,
          static_cast<uint16_t>(s.port), txt);
      avahi_string_list_free(txt);
      if (error < 0) break;
    }
    if (error == AVAHI_OK) error = avahi_entry_group_commit(entry.group);
    if (error == AVAHI_OK) return;
    avahi_entry_group_reset(entry.group);
    // A name this machine already announces is refused at once.
    if (error != AVAHI_ERR_COLLISION || renames == kMaxRenames) {
      say_("DNS-SD: cannot announce " + quoted(entry.name) + ": " + avahi_strerror(error));
      return;
    }
    rename(entry);
  }
}

void Announcer::rename(Entry& entry) {
  char* alternative = avahi_alternative_service_name(entry.name.c_str());
  const std::string next = alternative;
  avahi_free(alternative);
  say_("DNS-SD: " + quoted(entry.name) + " is taken on the network; renamed " + quoted(next));
  entry.name = next;
}

void Announcer::group_changed(Entry& entry, int state) {
  switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
      say_("DNS-SD: " + quoted(entry.name) + " announced: " + services_text(entry.wanted));
      break;
    case AVAHI_ENTRY_GROUP_COLLISION:
      // Another host answered for the name while it was probed.
      rename(entry);
      avahi_entry_group_reset(entry.group);
      publish(entry);
      break;
    case AVAHI_ENTRY_GROUP_FAILURE:
      say_("DNS-SD: cannot announce " + quoted(entry.name) + ": " +
           avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(entry.group))));
      break;
    default:
      break;
  }
}

}  // namespace talmir880::mdns
