#include "control/tango/tango_server.hpp"

#include <tango.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace talmir880::control {

namespace {

const char* const kClassName = "Talmir880";

// What the class is given before Tango makes it, and what a signal calls.
MakeFace& make_face() {
  static MakeFace make;
  return make;
}
std::mutex stop_mutex;
std::function<void()>& stop_signal() {
  static std::function<void()> stop;
  return stop;
}

[[noreturn]] void refuse(const std::string& reason, const std::string& why) {
  Tango::Except::throw_exception(reason, why, "Talmir880");
}

Tango::AttrQuality tango_quality(Quality quality) {
  switch (quality) {
    case Quality::valid:
      break;
    case Quality::invalid:
      return Tango::ATTR_INVALID;
    case Quality::changing:
      return Tango::ATTR_CHANGING;
  }
  return Tango::ATTR_VALID;
}

Tango::DevState tango_state(State state) {
  switch (state) {
    case State::on:
      return Tango::ON;
    case State::off:
      return Tango::OFF;
    case State::unknown:
      break;
    case State::fault:
      return Tango::FAULT;
    case State::moving:
      return Tango::MOVING;
  }
  return Tango::UNKNOWN;
}

long tango_type(AttributeType type) {
  switch (type) {
    case AttributeType::real:
      break;
    case AttributeType::whole:
      return Tango::DEV_LONG;
    case AttributeType::flag:
      return Tango::DEV_BOOLEAN;
    case AttributeType::choice:
      return Tango::DEV_ENUM;
  }
  return Tango::DEV_DOUBLE;
}

// The device's monitor, held as requests hold it (it counts its owner's
// nesting), so that State and Status are set as a read would set them.
class MonitorHeld {
 public:
  explicit MonitorHeld(Tango::TangoMonitor& monitor) : monitor_(monitor) { monitor_.get_monitor(); }
  ~MonitorHeld() { monitor_.rel_monitor(); }
  MonitorHeld(const MonitorHeld&) = delete;
  MonitorHeld& operator=(const MonitorHeld&) = delete;

 private:
  Tango::TangoMonitor& monitor_;
};

// One value of each type, where Tango reads it from once set_value returns.
struct Values {
  Tango::DevDouble real = 0;
  Tango::DevLong whole = 0;
  Tango::DevBoolean flag = false;
  Tango::DevShort choice = 0;
};

class Talmir880Device : public Tango::Device_5Impl {
 public:
  Talmir880Device(Tango::DeviceClass* cls, const std::string& name)
      : Tango::Device_5Impl(cls, name.c_str()) {
    init_device();
  }
  ~Talmir880Device() override { delete_device(); }

  void init_device() override {
    std::string error;
    face_ = make_face()(get_name(), properties(), error);
    error_ = face_ == nullptr ? error : "";
    values_.assign(face_ != nullptr ? face_->attributes().size() : 0, Values{});
    for (const char* name : {"State", "Status"}) {
      set_change_event(name, true, false);
      set_archive_event(name, true, false);
    }
    if (face_ != nullptr) pusher_ = std::thread([this] { push_events(); });
  }

  void delete_device() override {
    stopping_ = true;
    if (pusher_.joinable()) pusher_.join();
  }

  Tango::DevState dev_state() override {
    set_state(face_ != nullptr ? tango_state(face_->snapshot().state) : Tango::FAULT);
    return get_state();
  }
  Tango::ConstDevString dev_status() override {
    set_status(face_ != nullptr ? face_->snapshot().status : error_);
    return get_status().c_str();
  }

  void read(std::size_t index, Tango::Attribute& attribute) {
    if (face_ == nullptr) refuse("TALMIR_NoGenerator", error_);
    const Snapshot now = face_->snapshot();
    set(attribute, index, now.values.at(index), now.qualities.at(index));
  }

  void write(std::size_t index, Tango::WAttribute& attribute) {
    const Attribute& a = face_->attributes().at(index);
    double value = 0;
    switch (a.type) {
      case AttributeType::real: {
        Tango::DevDouble v = 0;
        attribute.get_write_value(v);
        value = v;
        break;
      }
      case AttributeType::whole: {
        Tango::DevLong v = 0;
        attribute.get_write_value(v);
        value = v;
        break;
      }
      case AttributeType::flag: {
        Tango::DevBoolean v = false;
        attribute.get_write_value(v);
        value = v ? 1 : 0;
        break;
      }
      case AttributeType::choice: {
        Tango::DevShort v = 0;
        attribute.get_write_value(v);
        value = v;
        break;
      }
    }
    std::string why;
    const std::optional<std::string> line = write_line(a, value, why);
    if (!line) refuse("TALMIR_OutOfRange", why);
    run(*line, index);
  }

  void run(const std::string& line, std::optional<std::size_t> attribute) {
    if (face_ == nullptr) refuse("TALMIR_NoGenerator", error_);
    // A memorized setpoint written back at start: the core's loop runs it
    // once it starts; waiting here would hold the start.
    if (Tango::Util::instance()->is_svr_starting()) {
      face_->run(line, attribute, std::chrono::milliseconds(0));
      return;
    }
    const Outcome outcome = face_->run(line, attribute, kWait);
    if (!outcome.finished) {
      refuse("TALMIR_Timeout",
             "The generator did not finish \"" + line + "\" within 2 s; it still runs it");
    }
    if (!outcome.errors.empty()) {
      std::string why = "\"" + line + "\" refused:";
      for (const std::string& error : outcome.errors) why += " " + error;
      refuse("TALMIR_Refused", why);
    }
  }

 private:
  Properties properties() {
    Tango::DbData data;
    for (const char* name : kPropertyNames) data.push_back(Tango::DbDatum(name));
    get_db_device()->get_property(data);
    Properties found;
    for (Tango::DbDatum& datum : data) {
      if (datum.is_empty()) continue;
      std::vector<std::string> lines;
      datum >> lines;
      std::string joined;
      for (const std::string& line : lines) joined += (joined.empty() ? "" : "\n") + line;
      found[datum.name] = joined;
    }
    return found;
  }

  void set(Tango::Attribute& attribute, std::size_t index, double value, Quality quality) {
    Values& v = values_.at(index);
    const Tango::AttrQuality q = tango_quality(quality);
    switch (face_->attributes().at(index).type) {
      case AttributeType::real:
        v.real = value;
        attribute.set_value(&v.real);
        break;
      case AttributeType::whole:
        v.whole = static_cast<Tango::DevLong>(value);
        attribute.set_value(&v.whole);
        break;
      case AttributeType::flag:
        v.flag = value != 0;
        attribute.set_value(&v.flag);
        break;
      case AttributeType::choice:
        v.choice = static_cast<Tango::DevShort>(value);
        attribute.set_value(&v.choice);
        break;
    }
    attribute.set_quality(q);
  }

  // Each change the core made, as change and archive events, at most one
  // round every kEventSpacing.
  void push_events() {
    omni_thread::ensure_self here;
    std::uint64_t seen = 0;
    std::optional<Snapshot> told;
    std::vector<Values> pushed(values_.size());
    while (!stopping_) {
      auto next = face_->next(seen, std::chrono::milliseconds(200));
      if (!next) continue;
      seen = next->first;
      const Snapshot& now = next->second;
      try {
        push_round(now, told ? &*told : nullptr, pushed);
      } catch (const Tango::DevFailed&) {
        // A client that went mid-push: the next round tells the others.
      }
      told = now;
      std::this_thread::sleep_for(kEventSpacing);
    }
  }

  void push_round(const Snapshot& now, const Snapshot* before, std::vector<Values>& pushed) {
    using namespace std::chrono;
    const auto since = system_clock::now().time_since_epoch();
    timeval when{};
    when.tv_sec = static_cast<decltype(when.tv_sec)>(duration_cast<seconds>(since).count());
    when.tv_usec = static_cast<decltype(when.tv_usec)>(
        duration_cast<microseconds>(since % seconds(1)).count());
    const std::vector<Attribute>& attributes = face_->attributes();
    for (std::size_t i = 0; i < attributes.size(); ++i) {
      if (before != nullptr && before->values[i] == now.values[i] &&
          before->qualities[i] == now.qualities[i]) {
        continue;
      }
      const Tango::AttrQuality q = tango_quality(now.qualities[i]);
      const std::string& name = attributes[i].name;
      Values& v = pushed[i];
      const double value = now.values[i];
      auto both = [&](auto* data) {
        push_change_event(name, data, when, q);
        push_archive_event(name, data, when, q);
      };
      switch (attributes[i].type) {
        case AttributeType::real:
          v.real = value;
          both(&v.real);
          break;
        case AttributeType::whole:
          v.whole = static_cast<Tango::DevLong>(value);
          both(&v.whole);
          break;
        case AttributeType::flag:
          v.flag = value != 0;
          both(&v.flag);
          break;
        case AttributeType::choice:
          v.choice = static_cast<Tango::DevShort>(value);
          both(&v.choice);
          break;
      }
    }
    // Tango's events of State and Status carry the device's own, set here.
    const MonitorHeld hold(get_dev_monitor());
    set_state(tango_state(now.state));
    set_status(now.status);
    if (before == nullptr || before->state != now.state) {
      push_change_event("State");
      push_archive_event("State");
    }
    if (before == nullptr || before->status != now.status) {
      push_change_event("Status");
      push_archive_event("Status");
    }
  }

  DeviceFace* face_ = nullptr;
  std::string error_;
  std::vector<Values> values_;
  std::atomic<bool> stopping_ = false;
  std::thread pusher_;
};

class SettingAttr : public Tango::Attr {
 public:
  SettingAttr(const Attribute& a, std::size_t index)
      : Tango::Attr(a.name.c_str(), tango_type(a.type),
                    a.writable ? Tango::READ_WRITE : Tango::READ),
        index_(index) {
    Tango::UserDefaultAttrProp props;
    props.set_label(a.label.c_str());
    if (!a.unit.empty()) props.set_unit(a.unit.c_str());
    if (a.type != AttributeType::choice && a.type != AttributeType::flag) {
      props.set_format(a.format.c_str());
    }
    if (a.min) props.set_min_value(number(*a.min).c_str());
    if (a.max) props.set_max_value(number(*a.max).c_str());
    if (!a.choices.empty()) props.set_enum_labels(const_cast<std::vector<std::string>&>(a.choices));
    set_default_properties(props);
    if (a.memorized) {
      set_memorized();
      set_memorized_init(true);
    }
    set_change_event(true, false);
    set_archive_event(true, false);
  }

  void read(Tango::DeviceImpl* device, Tango::Attribute& attribute) override {
    static_cast<Talmir880Device*>(device)->read(index_, attribute);
  }
  void write(Tango::DeviceImpl* device, Tango::WAttribute& attribute) override {
    static_cast<Talmir880Device*>(device)->write(index_, attribute);
  }

 private:
  std::size_t index_;
};

class LineCommand : public Tango::Command {
 public:
  LineCommand(const char* name, const char* line)
      : Tango::Command(name, Tango::DEV_VOID, Tango::DEV_VOID), line_(line) {}
  CORBA::Any* execute(Tango::DeviceImpl* device, const CORBA::Any&) override {
    static_cast<Talmir880Device*>(device)->run(line_, std::nullopt);
    return insert();
  }

 private:
  std::string line_;
};

class Talmir880Class : public Tango::DeviceClass {
 public:
  static Talmir880Class* instance() {
    static std::string name = kClassName;
    static Talmir880Class* made = new Talmir880Class(name);
    return made;
  }

  void attribute_factory(std::vector<Tango::Attr*>& list) override {
    const std::vector<Attribute> attributes = attributes_of();
    for (std::size_t i = 0; i < attributes.size(); ++i) {
      list.push_back(new SettingAttr(attributes[i], i));
    }
  }
  void command_factory() override {
    for (const DeviceCommand& c : kCommands)
      command_list.push_back(new LineCommand(c.name, c.line));
  }
  void device_factory(const Tango::DevVarStringArray* names) override {
    for (CORBA::ULong i = 0; i < names->length(); ++i) {
      auto* device = new Talmir880Device(this, std::string((*names)[i]));
      device_list.push_back(device);
      // Without a database (-file=) a client finds it by its name alone.
      if (Tango::Util::_UseDb && !Tango::Util::_FileDb) {
        export_device(device);
      } else {
        export_device(device, device->get_name().c_str());
      }
    }
  }
  void signal_handler(long) override {
    const std::lock_guard lock(stop_mutex);
    if (stop_signal()) stop_signal()();
  }

 private:
  explicit Talmir880Class(std::string& name) : Tango::DeviceClass(name) {
    for (const int signo : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) register_signal(signo);
  }
};

}  // namespace

struct TangoServer::Running {
  Tango::Util* util = nullptr;
};

TangoServer::TangoServer(int argc, char** argv, MakeFace make)
    : running_(std::make_unique<Running>()) {
  make_face() = std::move(make);
  try {
    running_->util = Tango::Util::init(argc, argv);
  } catch (const Tango::DevFailed& e) {
    throw std::runtime_error(e.errors.length() > 0 ? std::string(e.errors[0].desc) : "Tango");
  } catch (const CORBA::Exception& e) {
    throw std::runtime_error(std::string("CORBA: ") + e._name());
  }
}

TangoServer::~TangoServer() = default;

void TangoServer::start() {
  try {
    running_->util->server_init(false);
  } catch (const Tango::DevFailed& e) {
    throw std::runtime_error(e.errors.length() > 0 ? std::string(e.errors[0].desc) : "Tango");
  }
  Tango::Util* util = running_->util;
  // Serves until the process ends (end()).
  std::thread([util] {
    omni_thread::ensure_self here;
    util->server_run();
  }).detach();
}

void TangoServer::on_stop_signal(std::function<void()> stop) {
  const std::lock_guard lock(stop_mutex);
  stop_signal() = std::move(stop);
}

void TangoServer::end(int status) {
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace talmir880::control

void Tango::DServer::class_factory() { add_class(talmir880::control::Talmir880Class::instance()); }
