// The list page of several generators as the Qt face writes it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/qt/list_document.hpp"

namespace talmir880::web {
namespace {

TEST(ListPage, EachGeneratorByNameWithItsWaysInAndItsLink) {
  const std::string html =
      list_html({
                    {"COM3", "TCPIP::10.0.0.5::5025::SOCKET", "TCPIP::10.0.0.5::inst0::INSTR",
                     PortState::open, Switched::on},
                    {"a<b", "TCPIP::10.0.0.5::5026::SOCKET", "", PortState::gone, Switched::unsure,
                     false, true},
                })
          .toStdString();
  for (const std::string part : {
           "<title data-text=\"generators\">TALMIR-880 generators</title>",
           "<span class=\"sub\" data-text=\"n_generators\" data-arg=\"2\">2 RF signal "
           "generators</span>",
           "<section aria-labelledby=\"inst0-title\" class=\"generator\" "
           "data-live=\"/inst0/ws\"><h2 id=\"inst0-title\">COM3</h2>",
           "<dt data-text=\"port\">Port</dt><dd><output id=\"inst0-port\" class=\"on\" "
           "data-text=\"port_open\">open</output></dd>",
           "<dt data-text=\"rf_out\">RF output</dt><dd><output id=\"inst0-rf\" class=\"on\" "
           "data-text=\"on\">on</output></dd>",
           "<dt data-text=\"visa_socket\">VISA (SOCKET)</dt><dd><span class=\"visa\">"
           "<span>TCPIP::</span><wbr/><span>10.0.0.5::</span><wbr/><span>5025::</span><wbr/>"
           "<span>SOCKET</span></span></dd>",
           "<dt data-text=\"visa_instr\">VISA (INSTR)</dt><dd><span class=\"visa\">"
           "<span>TCPIP::</span><wbr/><span>10.0.0.5::</span><wbr/><span>inst0::</span><wbr/>"
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
            "<span>TCPIP::</span><wbr/><span>[fd00::5]::</span><wbr/><span>inst1::</span><wbr/>"
            "<span>INSTR</span>"},
           {"TCPIP::[::1]::INSTR",
            "<span>TCPIP::</span><wbr/><span>[::1]::</span><wbr/><span>INSTR</span>"},
           {"a<b", "<span>a&lt;b</span>"},
       }) {
    EXPECT_EQ(visa_html(c.resource).toStdString(), "<span class=\"visa\">" + c.html + "</span>")
        << c.resource;
  }
}

}  // namespace
}  // namespace talmir880::web
