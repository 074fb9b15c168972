#include "programs/talmir880-scpi/web_start.hpp"

#include "net/allow_list.hpp"
#include "programs/common/command_line.hpp"
#include "web/sessions.hpp"

namespace talmir880::programs {

std::optional<std::string> web_password(const ServerOptions& options, std::string& error) {
  if (options.http_password_file.empty()) return std::string();
  const web::PasswordFile file = web::read_password_file(options.http_password_file);
  if (!file.error.empty()) {
    error = "--http-password-file: " + file.error;
    return std::nullopt;
  }
  return file.password;
}

std::unique_ptr<web::WebServer> bind_web(std::vector<web::WebGenerator> generators,
                                         net::PeerGuard& guard, const ServerOptions& options,
                                         std::string password,
                                         const std::function<void(const std::string&)>& say) {
  web::WebSetup setup;
  setup.host = options.http_host;
  setup.port = options.http_port;
  setup.raw_host = options.host;
  setup.vxi11 = options.vxi11;
  setup.vxi11_host = options.vxi11_host;
  setup.password = std::move(password);
  auto server = std::make_unique<web::WebServer>(std::move(generators), guard, std::move(setup));
  std::string why;
  if (!server->listen(why)) {
    say("cannot serve the web page on " + net::address_text(options.http_host, options.http_port) +
        ": " + why);
    return nullptr;
  }
  return server;
}

void say_web(const web::WebServer& server, const ServerOptions& options, bool password,
             const std::function<void(const std::string&)>& say) {
  say("web page on http://" + net::address_text(options.http_host, server.port()) + "/");
  if (!is_loopback(options.http_host)) {
    say(password ? "web page: visitors from other machines change settings only after logging "
                   "in with the password"
                 : "web page: visitors from other machines see it read-only; "
                   "--http-password-file lets them log in to change settings");
  }
}

}  // namespace talmir880::programs
