// The web face on a loopback socket, serving one instrument or two on fake
// ports: which path reaches what, and a page's actions reaching its own
// generator alone.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostInfo>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/qt/qt_delivery.hpp"
#include "scpi/instrument.hpp"
#include "support/fake_serial_port.hpp"
#include "support/manual_countdown.hpp"
#include "web/qt/web_server.hpp"

namespace talmir880::web {
namespace {

using testing::FakeSerialPort;
using testing::ManualCountdown;

struct Generator {
  explicit Generator(const std::string& name) { instrument.name(name); }
  FakeSerialPort port;
  std::array<ManualCountdown, 4> clocks;
  scpi::Instrument instrument{port, {clocks[0], clocks[1], clocks[2], clocks[3]}};
};

// Runs the event loop until `done` or three seconds have passed.
bool spin_until(const std::function<bool()>& done) {
  QEventLoop loop;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(3000, &loop, &QEventLoop::quit);
  tick.start(5);
  loop.exec();
  return done();
}

class WebServerTest : public ::testing::Test {
 protected:
  // Generators named COM3, COM4, ... with raw ports 5025, 5026, ...
  void serve(std::size_t count) {
    std::vector<WebGenerator> served;
    for (std::size_t i = 0; i < count; ++i) {
      generators.push_back(std::make_unique<Generator>("COM" + std::to_string(3 + i)));
      served.push_back({&generators.back()->instrument, 5025 + static_cast<int>(i)});
    }
    WebSetup setup;
    setup.raw_host = "127.0.0.1";
    setup.vxi11 = true;
    setup.vxi11_host = "0.0.0.0";  // given as the address the visitor reached
    server = std::make_unique<WebServer>(std::move(served), guard, setup);
    std::string why;
    ASSERT_TRUE(server->listen(why)) << why;
    host = "127.0.0.1:" + std::to_string(server->port());
  }

  // The whole answer to one request.
  std::string ask(const std::string& request) {
    QTcpSocket socket;
    QByteArray got;
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] { got += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(server->port()));
    socket.write(request.data(), static_cast<qint64>(request.size()));
    spin_until([&] { return socket.state() == QAbstractSocket::UnconnectedState; });
    return got.toStdString();
  }
  std::string get(const std::string& path) {
    return ask("GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
  }
  static std::string body(const std::string& answer) {
    return answer.substr(answer.find("\r\n\r\n") + 4);
  }

  std::vector<std::unique_ptr<Generator>> generators;  // outlive the server
  net::PeerGuard guard;
  std::unique_ptr<WebServer> server;
  std::string host;
};

TEST_F(WebServerTest, TwoGeneratorsRoutes) {
  serve(2);
  struct Case {
    std::string request;  // the request line's method and path, then fields
    std::string status;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const std::string own = "Host: " + host + "\r\n";
  const std::string origin = own + "Origin: http://" + host + "\r\n";
  const std::vector<Case> cases = {
      {"GET /",
       "200 OK",
       {"Front panel of COM3", "Front panel of COM4", "data-live=\"/inst1/ws\"",
        "<span>127.0.0.1::</span><wbr/><span>5026::</span>",
        "<span>127.0.0.1::</span><wbr/><span>inst1::</span>",
        "<output id=\"inst1-port\" class=\"off\" data-text=\"port_closed\">closed</output>"},
       {}},
      {"GET /inst1/", "200 OK", {"<title>TALMIR-880</title>", "href=\"lxi/identification\""}, {}},
      {"GET /inst0/", "200 OK", {"<title>TALMIR-880</title>"}, {}},
      {"GET /inst1", "301 Moved Permanently", {"Location: /inst1/\r\n"}, {}},
      {"GET /inst2/", "404 Not Found", {}, {}},
      {"GET /inst2/ws", "404 Not Found", {}, {}},
      {"GET /ws", "404 Not Found", {}, {}},
      {"GET /inst1/ws", "403 Forbidden", {}, {}},  // a WebSocket says where it comes from
      {"GET /inst1/ws\r\n" + origin.substr(0, origin.size() - 2), "400 Bad Request", {}, {}},
      {"GET /inst1/lxi/identification",
       "200 OK",
       {"<SerialNumber>COM4</SerialNumber>",
        "<InstrumentAddressString>TCPIP::127.0.0.1::5026::SOCKET</InstrumentAddressString>",
        "<InstrumentAddressString>TCPIP::127.0.0.1::inst1::INSTR</InstrumentAddressString>",
        "<IdentificationURL>http://" + host + "/inst1/lxi/identification</IdentificationURL>"},
       {"5025", "inst0"}},
      {"GET /lxi/identification",
       "200 OK",
       {"<SerialNumber>0</SerialNumber>",
        "<ManufacturerDescription>2 RF signal generators</ManufacturerDescription>",
        "<InstrumentAddressString>TCPIP::127.0.0.1::5025::SOCKET</InstrumentAddressString>\n"
        "    <InstrumentAddressString>TCPIP::127.0.0.1::5026::SOCKET</InstrumentAddressString>\n"
        "    <Hostname>",
        "<InstrumentAddressString>TCPIP::127.0.0.1::inst0::INSTR</InstrumentAddressString>\n"
        "    <InstrumentAddressString>TCPIP::127.0.0.1::inst1::INSTR</InstrumentAddressString>\n"
        "    <Hostname>"},
       {"COM3"}},
      {"GET /list.js", "200 OK", {"Content-Type: text/javascript"}, {}},
      {"GET /texts.js", "200 OK", {"Content-Type: text/javascript", "const TEXTS = {"}, {}},
      {"GET /lang.js", "200 OK", {"Content-Type: text/javascript", "localStorage"}, {}},
      {"GET /INST1/", "200 OK", {"<title>TALMIR-880</title>"}, {}},
      {"POST /inst1/", "405 Method Not Allowed", {}, {}},
      {"POST /login", "403 Forbidden", {}, {}},  // no password set: no session
  };
  for (const Case& c : cases) {
    const std::size_t end = c.request.find("\r\n");
    const std::string fields = end == std::string::npos ? (c.request[0] == 'P' ? origin : own)
                                                        : c.request.substr(end + 2) + "\r\n";
    const std::string answer = ask(c.request.substr(0, end) + " HTTP/1.1\r\n" + fields + "\r\n");
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")), "HTTP/1.1 " + c.status) << c.request;
    for (const std::string& part : c.present) {
      EXPECT_NE(answer.find(part), std::string::npos) << c.request << " lacks " << part;
    }
    for (const std::string& part : c.absent) {
      EXPECT_EQ(body(answer).find(part), std::string::npos) << c.request << " has " << part;
    }
  }
  EXPECT_EQ(ask("GET /inst1/ HTTP/1.1\r\nHost: rebind.example:" + std::to_string(server->port()) +
                "\r\n\r\n")
                .substr(0, 30),
            "HTTP/1.1 421 Misdirected Reque");
}

TEST_F(WebServerTest, APageActsOnItsOwnGeneratorAlone) {
  serve(2);
  QWebSocket page(QString::fromStdString("http://" + host));
  std::vector<std::string> messages;
  QObject::connect(&page, &QWebSocket::textMessageReceived, &page,
                   [&](const QString& text) { messages.push_back(text.toStdString()); });
  page.open(QUrl(QString::fromStdString("ws://" + host + "/inst1/ws")));
  ASSERT_TRUE(spin_until([&] { return !messages.empty(); })) << "no state on /inst1/ws";
  page.sendTextMessage(QStringLiteral("rf_on 1"));
  // After the switch-off owed to a device first reached.
  for (std::size_t n = 1; n <= 3; ++n) {
    ASSERT_TRUE(spin_until([&] { return generators[1]->port.written.size() == n; })) << n;
    generators[1]->port.receive("R");
  }
  EXPECT_EQ(generators[1]->port.written,
            (std::vector<std::string>{"$F000000001", "$M0000000", "$F010000000"}));
  EXPECT_TRUE(generators[0]->port.written.empty());
  ASSERT_TRUE(spin_until([&] {
    return messages.back().find("\"rf_on\":true") != std::string::npos;
  })) << messages.back();
  // The list shows each one as it is.
  const std::string list = get("/");
  EXPECT_NE(list.find("<output id=\"inst1-rf\" class=\"on\" data-text=\"on\">on</output>"),
            std::string::npos);
  EXPECT_NE(list.find("<output id=\"inst0-rf\" class=\"bad\" data-text=\"not_confirmed\">not "
                      "confirmed</output>"),
            std::string::npos)
      << "never reached, nothing known";
  EXPECT_NE(
      list.find("<output id=\"inst1-port\" class=\"on\" data-text=\"port_open\">open</output>"),
      std::string::npos);
  EXPECT_FALSE(generators[0]->port.open);
}

TEST_F(WebServerTest, SixteenPagesAndTheNextIsToldGoingAway) {
  serve(1);
  int opened = 0;
  std::vector<QWebSocketProtocol::CloseCode> closed;
  std::vector<std::unique_ptr<QWebSocket>> pages;  // go first: they tell `closed`
  for (int i = 0; i <= WebPages::kMaxPages; ++i) {
    pages.push_back(std::make_unique<QWebSocket>(QString::fromStdString("http://" + host)));
    QWebSocket* page = pages.back().get();
    QObject::connect(page, &QWebSocket::connected, page, [&] { ++opened; });
    QObject::connect(page, &QWebSocket::disconnected, page,
                     [&closed, page] { closed.push_back(page->closeCode()); });
    page->open(QUrl(QString::fromStdString("ws://" + host + "/ws")));
    ASSERT_TRUE(spin_until([&] { return opened == i + 1; })) << i;
  }
  ASSERT_TRUE(spin_until([&] { return !closed.empty(); }));
  EXPECT_EQ(closed, std::vector{QWebSocketProtocol::CloseCodeGoingAway});
  EXPECT_EQ(pages.back()->state(), QAbstractSocket::UnconnectedState);
  EXPECT_EQ(pages.front()->state(), QAbstractSocket::ConnectedState);
}

TEST_F(WebServerTest, OneGeneratorAsBefore) {
  serve(1);
  const std::string panel = body(get("/"));
  EXPECT_NE(panel.find("<title>TALMIR-880</title>"), std::string::npos);
  EXPECT_EQ(body(get("/inst0/")), panel);
  EXPECT_EQ(get("/inst1/").substr(0, 22), "HTTP/1.1 404 Not Found");
  const scpi::Identity id = scpi::identity();
  // Reached on loopback, from this machine: each way in on lo.
  std::string lo;
  for (const char* resource : {"TCPIP::127.0.0.1::5025::SOCKET", "TCPIP::127.0.0.1::INSTR"}) {
    lo +=
        "  <Interface xsi:type=\"NetworkInformation\" InterfaceType=\"LXI\" IPType=\"IPv4\" "
        "InterfaceName=\"lo\">\n"
        "    <InstrumentAddressString>" +
        std::string(resource) +
        "</InstrumentAddressString>\n"
        "    <Hostname>" +
        QHostInfo::localHostName().toStdString() +
        "</Hostname>\n"
        "    <IPAddress>127.0.0.1</IPAddress>\n"
        "    <SubnetMask>255.0.0.0</SubnetMask>\n"
        "    <MACAddress>00:00:00:00:00:00</MACAddress>\n"
        "    <Gateway>0.0.0.0</Gateway>\n"
        "    <DHCPEnabled>false</DHCPEnabled>\n"
        "    <AutoIPEnabled>false</AutoIPEnabled>\n"
        "  </Interface>\n";
  }
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<LXIDevice xmlns=\"http://www.lxistandard.org/InstrumentIdentification/1.0\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xsi:schemaLocation=\"http://www.lxistandard.org/InstrumentIdentification/1.0 "
      "http://www.lxistandard.org/InstrumentIdentification/1.0/LXIIdentification.xsd\">\n"
      "  <Manufacturer>TALMIR</Manufacturer>\n"
      "  <Model>TALMIR-880</Model>\n"
      "  <SerialNumber>COM3</SerialNumber>\n"
      "  <FirmwareRevision>" +
      id.firmware +
      "</FirmwareRevision>\n"
      "  <ManufacturerDescription>RF signal generator</ManufacturerDescription>\n"
      "  <IdentificationURL>http://" +
      host + "/lxi/identification</IdentificationURL>\n" + lo +
      "  <LXIVersion>1.4</LXIVersion>\n"
      "</LXIDevice>\n";
  EXPECT_EQ(body(get("/lxi/identification")), expected);
  std::string at_inst0 = expected;
  at_inst0.replace(at_inst0.find("/lxi/identification<"), 1, "/inst0/");
  EXPECT_EQ(body(get("/inst0/lxi/identification")), at_inst0);
}

}  // namespace
}  // namespace talmir880::web

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  const talmir880::QtDelivery delivery;
  return RUN_ALL_TESTS();
}
