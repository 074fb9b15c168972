#include "programs/talmir880-scpi/web_start.hpp"

#include <QHostInfo>
#include <QNetworkInterface>

#include "net/allow_list.hpp"
#include "platform/state_folder.hpp"
#include "programs/common/command_line.hpp"
#include "web/qt/host_network.hpp"
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

std::optional<tls::Credentials> web_credentials(
    const ServerOptions& options, std::string& error,
    const std::function<void(const std::string&)>& say) {
  if (!options.https) return tls::Credentials{};
  std::string why;
  if (!options.tls_certificate.empty()) {
    std::optional<tls::Credentials> owned =
        tls::read_owned(options.tls_certificate, options.tls_key, why);
    if (!owned) error = "--https: " + why;
    return owned;
  }
  // Made for every name and address this machine may be reached by now.
  // The host's own name first: the certificate's common name is made of it.
  std::vector<std::string> names;
  const std::string host = QHostInfo::localHostName().toLower().toStdString();
  if (!host.empty()) names = {host, host + ".local"};
  names.push_back("localhost");
  std::vector<std::string> addresses;
  for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
    // A link-local address is no name a browser can be given.
    if (!address.isLinkLocal()) addresses.push_back(web::host_text(address));
  }
  const std::filesystem::path folder = platform::state_folder();
  bool made = false;
  std::optional<tls::Credentials> kept = tls::kept_or_made(folder, names, addresses, made, why);
  if (!kept) {
    error = "--https: " + why;
    return kept;
  }
  if (made) {
    say("web page: made a TLS certificate for this machine, valid " +
        std::to_string(tls::kMadeValidDays) + " days, kept in " + folder.string() +
        "; --tls-certificate and --tls-key give the lab's own");
  }
  return kept;
}

std::unique_ptr<web::WebServer> bind_web(std::vector<web::WebGenerator> generators,
                                         net::PeerGuard& guard, const ServerOptions& options,
                                         std::string password, tls::Credentials credentials,
                                         const std::function<void(const std::string&)>& say,
                                         const std::function<void(const std::string&)>& log) {
  web::WebSetup setup;
  setup.http = options.http;
  setup.host = options.http_host;
  setup.port = options.http_port;
  setup.https = options.https;
  setup.https_host = options.https_host;
  setup.https_port = options.https_port;
  setup.credentials = std::move(credentials);
  setup.log = log;
  setup.raw_host = options.host;
  setup.vxi11 = options.vxi11;
  setup.vxi11_host = options.vxi11_host;
  setup.password = std::move(password);
  auto server = std::make_unique<web::WebServer>(std::move(generators), guard, std::move(setup));
  std::string why;
  if (!server->listen(why)) {
    say("cannot serve the web page on " + why);
    return nullptr;
  }
  return server;
}

void say_web(const web::WebServer& server, const ServerOptions& options, bool password,
             const std::string& fingerprint, const std::function<void(const std::string&)>& say) {
  if (options.https) {
    say("web page on https://" + net::address_text(options.https_host, server.https_port()) +
        "/ (certificate SHA-256 " + fingerprint + ")");
  }
  if (options.http) {
    say((options.https ? "web page redirected from http://" : "web page on http://") +
        net::address_text(options.http_host, server.port()) + "/");
  }
  // The page is where it is served: over TLS when it is.
  if (!is_loopback(options.https ? options.https_host : options.http_host)) {
    say(password ? "web page: visitors from other machines change settings only after logging "
                   "in with the password"
                 : "web page: visitors from other machines see it read-only; "
                   "--http-password-file lets them log in to change settings");
  }
}

}  // namespace talmir880::programs
