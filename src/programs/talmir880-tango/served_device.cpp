#include "programs/talmir880-tango/served_device.hpp"

#include <algorithm>
#include <cctype>

#include "programs/talmir880-scpi/journal.hpp"
#include "programs/talmir880-scpi/web_start.hpp"

namespace talmir880::programs {

namespace {

std::optional<bool> yes_or_no(std::string value) {
  std::transform(value.begin(), value.end(), value.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (value == "true" || value == "1" || value == "yes") return true;
  if (value == "false" || value == "0" || value == "no") return false;
  return std::nullopt;
}

const std::string* find(const control::Properties& properties, const char* name) {
  const auto it = properties.find(name);
  return it == properties.end() ? nullptr : &it->second;
}

}  // namespace

std::optional<std::vector<std::string>> arguments_of(const control::Properties& properties,
                                                     std::string& error) {
  // Only the faces its properties ask for; never VXI-11 or DNS-SD here.
  std::vector<std::string> args{"--no-vxi11", "--no-mdns"};
  const std::string* port = find(properties, "SerialPort");
  if (port == nullptr || port->empty()) {
    error =
        "The property SerialPort is not set: give the generator's port (COM9, a device "
        "path, or tcp:HOST:PORT).";
    return std::nullopt;
  }
  args.insert(args.end(), {"--port", *port});
  for (const auto& [property, flag] :
       {std::pair{"ScpiListen", "--listen"}, std::pair{"HttpListen", "--http"},
        std::pair{"OffAfter", "--off-after"}}) {
    if (const std::string* value = find(properties, property)) {
      args.insert(args.end(), {flag, *value});
    }
  }
  for (const auto& [property, flag] :
       {std::pair{"OffAtExit", "--off-at-exit"}, std::pair{"OffWhenUnused", "--off-when-unused"},
        std::pair{"LeaveRunning", "--leave-running"}}) {
    const std::string* value = find(properties, property);
    if (value == nullptr) continue;
    const std::optional<bool> yes = yes_or_no(*value);
    if (!yes) {
      error =
          std::string("The property ") + property + " is \"" + *value + "\": give true or false.";
      return std::nullopt;
    }
    if (*yes) args.push_back(flag);
  }
  return args;
}

ServedDevice::ServedDevice(ServerOptions options)
    : options_(std::move(options)), guard_(net::AllowList(options_.allow), journal) {}

ServedDevice::~ServedDevice() = default;

std::unique_ptr<ServedDevice> ServedDevice::make(const std::string& device,
                                                 const control::Properties& properties,
                                                 std::string& error) {
  const std::optional<std::vector<std::string>> args = arguments_of(properties, error);
  if (!args) return nullptr;
  ParsedServerOptions parsed = parse_server_options(*args);
  if (!parsed.options) {
    error = device + ": " + parsed.error;
    return nullptr;
  }
  parsed.options->raw = properties.count("ScpiListen") != 0;
  std::unique_ptr<ServedDevice> served(new ServedDevice(*parsed.options));
  const ServerOptions& options = served->options_;
  served->generators_.push_back(std::make_unique<ServedGenerator>(options.ports.front(), options));
  served->faces_ = std::make_unique<ServerFaces>(options, served->generators_, served->guard_);
  const std::optional<std::string> password = web_password(options, error);
  const std::optional<tls::Credentials> credentials =
      password ? web_credentials(options, error, say) : std::nullopt;
  if (!credentials) return nullptr;
  if (served->faces_->open(*password, *credentials, [](int) {}) != 0) {
    error = device + ": " + last_said() + ".";
    return nullptr;
  }
  ServedGenerator& generator = *served->generators_.front();
  ServedDevice& made = *served;
  served->waker_ = std::make_unique<Waker>([&made] { made.face_->take_posted(); });
  served->face_ = std::make_unique<control::DeviceFace>(generator.instrument(), generator.device(),
                                                        [&made] { made.waker_->wake(); });
  generator.take_over(options);
  return served;
}

void ServedDevice::stop(std::function<void()> done) {
  faces_->close();
  if (!options_.off_at_exit) {
    done();
    return;
  }
  generators_.front()->switch_off_for_exit(std::move(done));
}

}  // namespace talmir880::programs
