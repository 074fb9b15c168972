// The paths of a web face that serves one generator or several, and the
// list page and identifications of several.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/list_page.hpp"
#include "web/lxi.hpp"
#include "web/routes.hpp"

namespace talmir880::web {
namespace {

using Kind = Route::Kind;

TEST(Routes, OneGeneratorKeepsItsPathsAndAnswersAsInst0) {
  struct Case {
    std::string_view path;
    Route expected;
  };
  for (const Case& c : std::vector<Case>{
           {"/", {Kind::panel, 0}},
           {"/ws", {Kind::live, 0}},
           {"/lxi/identification", {Kind::identification, 0}},
           {"/inst0/", {Kind::panel, 0}},
           {"/inst0/ws", {Kind::live, 0}},
           {"/inst0/lxi/identification", {Kind::identification, 0}},
           {"/inst0", {Kind::moved, 0}},
           {"/inst1/", {}},
           {"/page.js", {Kind::asset, {}}},
           {"/login", {Kind::login, {}}},
       }) {
    EXPECT_EQ(route(c.path, 1), c.expected) << c.path;
  }
}

TEST(Routes, SeveralGeneratorsEachUnderItsOwnPrefix) {
  struct Case {
    std::string_view path;
    Route expected;
  };
  for (const Case& c : std::vector<Case>{
           {"/", {Kind::list, {}}},
           {"/ws", {}},  // no one generator's
           {"/lxi/identification", {Kind::identification, {}}},
           {"/inst0/", {Kind::panel, 0}},
           {"/inst1/", {Kind::panel, 1}},
           {"/inst1/ws", {Kind::live, 1}},
           {"/inst1/lxi/identification", {Kind::identification, 1}},
           {"/inst1", {Kind::moved, 1}},
           {"/inst2/", {}},
           {"/inst01/", {}},
           {"/inst-1/", {}},
           {"/inst+1/", {}},
           {"/inst/", {}},
           {"/inst1x/", {}},
           {"/inst99999999999999999999/", {}},
           {"/INST1/", {Kind::panel, 1}},  // as VXI-11 takes inst1
           {"/Inst1/ws", {Kind::live, 1}},
           {"/iNsT0/lxi/identification", {Kind::identification, 0}},
           {"/INST1", {Kind::moved, 1}},
           {"/INST01/", {}},
           {"/JNST1/", {}},
           {"/inst1/page.css", {}},
           {"/inst1/ws/", {}},
           {"/inst1//", {}},
           {"/x/inst1/", {}},
           {"/page.css", {Kind::asset, {}}},
           {"/list.js", {Kind::asset, {}}},
           {"/logout", {Kind::logout, {}}},
           {"/index.html", {}},
           {"", {}},
       }) {
    EXPECT_EQ(route(c.path, 2), c.expected) << c.path;
  }
  EXPECT_EQ(route("/inst11/ws", 12), (Route{Kind::live, 11}));
  EXPECT_EQ(generator_path(11), "/inst11/");
}

TEST(ListPage, EachGeneratorByNameWithItsWaysInAndItsLink) {
  const std::string html = list_html({
      {"COM3", "TCPIP::10.0.0.5::5025::SOCKET", "TCPIP::10.0.0.5::inst0::INSTR", PortState::open,
       Switched::on},
      {"a<b", "TCPIP::10.0.0.5::5026::SOCKET", "", PortState::gone, Switched::unsure, false, true},
  });
  for (const std::string part : {
           "<title data-text=\"generators\">TALMIR-880 generators</title>",
           "<span class=\"sub\" data-text=\"n_generators\" data-arg=\"2\">2 RF signal "
           "generators</span>",
           "<section aria-labelledby=\"inst0-title\" class=\"generator\" "
           "data-live=\"/inst0/ws\">\n    <h2 id=\"inst0-title\">COM3</h2>",
           "<dt data-text=\"port\">Port</dt><dd><output id=\"inst0-port\" class=\"on\" "
           "data-text=\"port_open\">open</output></dd>",
           "<dt data-text=\"rf_out\">RF output</dt><dd><output id=\"inst0-rf\" class=\"on\" "
           "data-text=\"on\">on</output></dd>",
           "<dt data-text=\"visa_socket\">VISA (SOCKET)</dt><dd><span class=\"visa\">"
           "<span>TCPIP::</span><wbr><span>10.0.0.5::</span><wbr><span>5025::</span><wbr>"
           "<span>SOCKET</span></span></dd>",
           "<dt data-text=\"visa_instr\">VISA (INSTR)</dt><dd><span class=\"visa\">"
           "<span>TCPIP::</span><wbr><span>10.0.0.5::</span><wbr><span>inst0::</span><wbr>"
           "<span>INSTR</span></span></dd>",
           "<a href=\"/inst0/\" data-text=\"front_panel_of\" data-arg=\"COM3\">Front panel of "
           "COM3</a>",
           "<h2 id=\"inst1-title\">a&lt;b</h2>",
           "<output id=\"inst1-port\" class=\"bad\" data-text=\"port_gone\">gone</output>",
           "<output id=\"inst1-rf\" class=\"bad\" data-text=\"not_confirmed\">not "
           "confirmed</output>",
           "<a href=\"/inst1/\" data-text=\"front_panel_of\" data-arg=\"a&lt;b\">Front panel of "
           "a&lt;b</a>",
           "<dt data-text=\"visa_instr\">VISA (INSTR)</dt><dd><span "
           "data-text=\"this_machine_only\">"
           "this machine only</span></dd>",
           "<a href=\"/lxi/identification\" data-text=\"lxi_xml_all\">",
       }) {
    EXPECT_NE(html.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(html.find("inst1::INSTR"), std::string::npos);
}

TEST(ListPage, AResourceStringBreaksOnlyBetweenItsFields) {
  struct Case {
    std::string resource;
    std::string html;
  };
  for (const Case& c : std::vector<Case>{
           {"TCPIP::[fd00::5]::inst1::INSTR",
            "<span>TCPIP::</span><wbr><span>[fd00::5]::</span><wbr><span>inst1::</span><wbr>"
            "<span>INSTR</span>"},
           {"TCPIP::[::1]::INSTR",
            "<span>TCPIP::</span><wbr><span>[::1]::</span><wbr><span>INSTR</span>"},
           {"a<b", "<span>a&lt;b</span>"},
       }) {
    EXPECT_EQ(visa_html(c.resource), "<span class=\"visa\">" + c.html + "</span>") << c.resource;
  }
}

TEST(Lxi, InstrNamesTheDeviceOnlyAmongSeveral) {
  EXPECT_EQ(instr_resource("192.168.1.5"), "TCPIP::192.168.1.5::INSTR");
  EXPECT_EQ(instr_resource("192.168.1.5", "inst1"), "TCPIP::192.168.1.5::inst1::INSTR");
  EXPECT_EQ(instr_resource("fd00::5", "inst0"), "TCPIP::[fd00::5]::inst0::INSTR");
}

}  // namespace
}  // namespace talmir880::web
