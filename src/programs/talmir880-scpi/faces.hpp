#pragma once

// The server's faces on its generators: a raw socket each, or standard
// input and output for the first; VXI-11, the web page and their DNS-SD
// announcement where the options ask and the build has them.

#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/peer_guard.hpp"
#include "programs/talmir880-scpi/options.hpp"
#include "programs/talmir880-scpi/served_generator.hpp"
#include "programs/talmir880-scpi/web_start.hpp"
#include "scpi/qt/tcp_transport.hpp"
#if TALMIR880_DNS_SD
#include "programs/talmir880-scpi/mdns_start.hpp"
#endif
#if TALMIR880_VXI11
#include "programs/talmir880-scpi/vxi11_start.hpp"
#endif
#if TALMIR880_STDIO
#include "scpi/qt/stdio_transport.hpp"
#endif

namespace talmir880::programs {

using ServedGenerators = std::vector<std::unique_ptr<ServedGenerator>>;

class ServerFaces {
 public:
  ServerFaces(const ServerOptions& options, ServedGenerators& generators, net::PeerGuard& guard);
  ServerFaces(const ServerFaces&) = delete;
  ServerFaces& operator=(const ServerFaces&) = delete;

  // Every face listens before any is said or registered, so that a start
  // that fails says why and nothing else: 0, or the status to end with.
  // `stdio_ended` hears the status a session on standard input ends with.
  int open(const std::string& password, const tls::Credentials& credentials,
           std::function<void(int)> stdio_ended);
  // No face takes another client: the announcement withdrawn first, before
  // the faces it announces close. What rpcbind holds goes with this object.
  void close();

 private:
  int bind_raw();
  void say_listening() const;
#if TALMIR880_DNS_SD
  std::vector<mdns::Generator> announced() const;
  void announce(bool vxi11_registered);
#endif

  const ServerOptions& options_;
  ServedGenerators& generators_;
  std::vector<scpi::Instrument*> instruments_;
  net::PeerGuard& guard_;
#if TALMIR880_STDIO
  std::unique_ptr<scpi::StdioTransport> session_;
#endif
  std::vector<std::unique_ptr<scpi::TcpTransport>> servers_;
#if TALMIR880_VXI11
  vxi11::RpcbindEntry rpcbind_entry_;
  std::unique_ptr<vxi11::Vxi11Transport> vxi11_server_;
#endif
  std::unique_ptr<web::WebServer> web_server_;
#if TALMIR880_DNS_SD
  std::unique_ptr<ServerAnnouncement> announcement_;
  QTimer presence_;
  std::vector<mdns::Generator> last_announced_;
#endif
};

}  // namespace talmir880::programs
