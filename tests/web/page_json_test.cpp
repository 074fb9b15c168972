// The page's messages, texts.js and the LXI identification as the Qt face
// writes them, read back by a parser: the same keys and values whatever the
// layout.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <algorithm>
#include <string>
#include <variant>
#include <vector>

#include "protocol/settings.hpp"
#include "support/test_only_setting.hpp"
#include "web/qt/lxi_document.hpp"
#include "web/qt/page_json.hpp"

namespace talmir880::web {
namespace {

QJsonObject parsed(const QByteArray& json) { return QJsonDocument::fromJson(json).object(); }

// Every field of `expected` (a JSON object's text) as `actual` has it.
void expect_fields(const QJsonObject& actual, const QByteArray& expected) {
  const QJsonObject fields = parsed(expected);
  ASSERT_FALSE(fields.isEmpty()) << expected.constData();
  for (auto at = fields.begin(); at != fields.end(); ++at) {
    EXPECT_EQ(actual.value(at.key()), at.value()) << at.key().toStdString();
  }
}

TEST(PageMessages, StateAndErrorsAsJson) {
  PageState s;
  // The fields are the settings; "now" is the device, which may be unsure.
  s.settings.frequency_hz = 777'700'000;
  s.settings.output_on = true;
  s.held.rf_hz = 433'920'000;
  s.held.rf = Switched::unsure;
  s.held.modulation = Switched::off;
  s.pass = Pass{Face::remote, 1e8, 1e5, 10, 30, 120};
  s.port = PortState::gone;
  const QByteArray state = message_json(state_message(s));
  EXPECT_EQ(state.count('\n'), 0) << state.constData();
  expect_fields(parsed(state), R"({"type":"state","rf_mhz":777.7,"rf_on":true})");
  expect_fields(parsed(state), R"({"rf_now":"unsure","rf_now_mhz":433.92,"mod_now":"off"})");
  expect_fields(parsed(state), R"({"sweeping":true,"progress":25,"port":"gone"})");
  expect_fields(parsed(state), R"({"step_hz":1000000,"sweep_mode":false})");
  s.settings.step_hz = 1e3;
  s.settings.sweep_mode = true;
  expect_fields(parsed(message_json(state_message(s))), R"({"step_hz":1000,"sweep_mode":true})");
  EXPECT_EQ(parsed(message_json(refused_message(Refusal::read_only_this_machine))),
            parsed("{\"type\":\"refused\",\"reason\":\"read_only_this_machine\",\"text\":\"read-"
                   "only: only this machine may change settings\"}"));
  EXPECT_EQ(parsed(message_json(refused_message(Refusal::not_an_action, "x\"y"))),
            parsed("{\"type\":\"refused\",\"reason\":\"not_an_action\",\"detail\":\"x\\\"y\","
                   "\"text\":\"not an action of this page: x\\\"y\"}"));
  EXPECT_EQ(parsed(message_json(device_message(DeviceFault::device_gone))),
            parsed("{\"type\":\"device\",\"fault\":\"device gone\"}"));
  EXPECT_EQ(parsed(message_json(device_message(DeviceFault::none))),
            parsed("{\"type\":\"device\",\"fault\":\"\"}"));
  EXPECT_EQ(parsed(message_json(errors_message({"-221,\"Settings conflict;output off\""}))),
            parsed("{\"type\":\"errors\",\"errors\":[\"-221,\\\"Settings conflict;output "
                   "off\\\"\"]}"));
  // A control character is escaped, and comes back as it was.
  const QByteArray control = message_json(errors_message({"a\x01<"}));
  EXPECT_EQ(control.count('\x01'), 0);
  EXPECT_EQ(parsed(control)["errors"][0].toString().toStdString(), "a\x01<");
}

// A constant of texts.js: "const NAME = <JSON>;" on its own line.
QJsonValue script_constant(const QByteArray& script, const QByteArray& name) {
  const QByteArray start = "\nconst " + name + " = ";
  const qsizetype at = script.indexOf(start);
  if (at < 0) return {};
  const qsizetype from = at + start.size();
  const qsizetype end = script.indexOf(";\n", from);
  const QByteArray json = "[" + script.mid(from, end - from) + "]";
  return QJsonDocument::fromJson(json).array().first();
}

TEST(PageTexts, TheScriptHoldsTheLanguagesTextsStepsAndSettings) {
  const QByteArray script = texts_script();
  const QJsonArray steps = script_constant(script, "STEPS").toArray();
  ASSERT_GE(steps.size(), 2);
  EXPECT_EQ((QJsonArray{steps[0], steps[1]}),
            QJsonDocument::fromJson("[[1000000000, \"1GHz\"], [100000000, \"100MHz\"]]").array());
  EXPECT_EQ(script_constant(script, "LANGUAGES").toArray(),
            QJsonDocument::fromJson("[[\"zh-CN\", \"简体中文\"], [\"zh-TW\", \"繁体中文\"], "
                                    "[\"en\", \"ENGLISH\"]]")
                .array());
  EXPECT_EQ(script_constant(script, "TEXTS")["zh-TW"]["stop_sweep"].toString(), "停止掃描");
  const QJsonArray settings = script_constant(script, "SETTINGS").toArray();
  const auto level = std::find_if(settings.begin(), settings.end(),
                                  [](const QJsonValue& s) { return s["name"] == "level"; });
  ASSERT_NE(level, settings.end());
  expect_fields(level->toObject(), R"({"control":"level","action":"level","group":"signal",
      "kind":"level","unit":"dBm","list":"levels","levels":[-3,-6,-9,-12]})");
  EXPECT_EQ(level->toObject().value("label").toObject().value("zh-CN").toString(), "射频电平");
}

// A setting the description gains reaches the page: its control in
// SETTINGS, in the page's unit, and its field in the state.
TEST(PageSettings, ADescribedSettingGetsItsControlAndItsStateField) {
  std::vector<protocol::Setting> more(protocol::kSettings.begin(), protocol::kSettings.end());
  more.push_back(talmir880::testing::kTestOnlyOffset);
  const QJsonArray settings = script_constant(texts_script(more), "SETTINGS").toArray();
  ASSERT_EQ(settings.size(), script_constant(texts_script(), "SETTINGS").toArray().size() + 1);
  expect_fields(settings.last().toObject(), R"({"name":"rf_offset","control":"offset",
      "action":"offset_khz","group":"signal","kind":"frequency","unit":"kHz","min":1,"max":2000,
      "list":"","label":{"zh-CN":"频率偏移","zh-TW":"頻率偏移","en":"Offset"}})");
  PageState s;
  const Message state = state_message(s, more);
  EXPECT_EQ(state.size(), state_message(s).size() + 1);
  EXPECT_NE(field(state, "offset_khz"), nullptr);
  EXPECT_EQ(field(state_message(s), "offset_khz"), nullptr);
}

// Each setting the page shows has its field, named by its action, in the
// page's unit: whole in the setting's own unit, a fraction in a larger one.
TEST(PageSettings, TheStateHoldsEachShownSettingInThePagesUnit) {
  PageState s;
  s.settings.lf_frequency_hz = 12'345;
  s.settings.start_hz = 100'000'010;
  s.settings.points = 77;
  s.settings.plain[protocol::plain_slot(protocol::kLevel)] = -9;
  s.settings.modulation_on = true;
  const QJsonObject state = parsed(message_json(state_message(s)));
  expect_fields(state, R"({"mod_khz":12.345,"mod_on":true,"start_mhz":100.00001,"points":77,
      "level":-9,"rf_on":false})");
  // Whole numbers as integers: JSON would write a double of 1 GHz "1e+09".
  for (const char* whole : {"points", "level", "step_hz"}) {
    EXPECT_TRUE(std::holds_alternative<long long>(*field(state_message(s), whole))) << whole;
  }
}

// The document as lines, one an element: its path, its namespace where it
// differs from its parent's, its attributes and its text.
std::vector<std::string> outline(const QByteArray& xml) {
  std::vector<std::string> out;
  QXmlStreamReader reader(xml);
  std::vector<std::pair<std::string, QString>> open;  // path, namespace
  while (!reader.atEnd()) {
    reader.readNext();
    if (reader.isStartElement()) {
      std::string line =
          (open.empty() ? "" : open.back().first + "/") + reader.name().toString().toStdString();
      open.emplace_back(line, reader.namespaceUri().toString());
      if (open.size() == 1 || open[open.size() - 2].second != open.back().second) {
        line += " {" + open.back().second.toStdString() + "}";
      }
      for (const QXmlStreamAttribute& a : reader.attributes()) {
        line += " " + a.qualifiedName().toString().toStdString() + "=" +
                a.value().toString().toStdString();
      }
      out.push_back(line);
    } else if (reader.isEndElement()) {
      open.pop_back();
    } else if (reader.isCharacters() && !reader.isWhitespace()) {
      out.back() += "=" + reader.text().toString().toStdString();
    }
  }
  EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
  return out;
}

// Whether `lines` follow each other in `all`.
bool has_run(const std::vector<std::string>& all, const std::vector<std::string>& lines) {
  return std::search(all.begin(), all.end(), lines.begin(), lines.end()) != all.end();
}

std::string shown(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

TEST(Lxi, IdentificationCarriesIdnAndOneInterfacePerWayIn) {
  NetworkInfo lan{"eth0",        "192.168.1.5", "255.255.255.0", "02:00:00:00:00:05",
                  "192.168.1.1", true,          false,           false};
  NetworkInfo v6{"eth0", "fd00::5", "ffff:ffff:ffff:ffff::", "02:00:00:00:00:05", "::", false,
                 false,  true};
  Identification id{
      {"TALMIR", "TALMIR-880", "0", "1.0.0"},
      "bench<pc>",
      "http://192.168.1.5:8080/lxi/identification",
      {{{socket_resource("192.168.1.5", 5025)}, lan}, {{instr_resource("fd00::5")}, v6}},
      lan,
      {}};
  const std::vector<std::string> xml = outline(identification_xml(id));
  ASSERT_FALSE(xml.empty());
  EXPECT_EQ(xml[0].rfind("LXIDevice {http://www.lxistandard.org/InstrumentIdentification/1.0}", 0),
            0u)
      << xml[0];
  for (const std::vector<std::string>& run : std::vector<std::vector<std::string>>{
           {"LXIDevice/Manufacturer=TALMIR"},
           {"LXIDevice/SerialNumber=0"},
           {"LXIDevice/FirmwareRevision=1.0.0"},
           {"LXIDevice/Interface xsi:type=NetworkInformation InterfaceType=LXI IPType=IPv4 "
            "InterfaceName=eth0",
            "LXIDevice/Interface/InstrumentAddressString=TCPIP::192.168.1.5::5025::SOCKET",
            "LXIDevice/Interface/Hostname=bench<pc>", "LXIDevice/Interface/IPAddress=192.168.1.5",
            "LXIDevice/Interface/SubnetMask=255.255.255.0",
            "LXIDevice/Interface/MACAddress=02:00:00:00:00:05",
            "LXIDevice/Interface/Gateway=192.168.1.1", "LXIDevice/Interface/DHCPEnabled=true",
            "LXIDevice/Interface/AutoIPEnabled=false"},
           {"LXIDevice/Interface xsi:type=NetworkInformation InterfaceType=LXI IPType=IPv6 "
            "InterfaceName=eth0",
            "LXIDevice/Interface/InstrumentAddressString=TCPIP::[fd00::5]::INSTR"},
           {"LXIDevice/Interface/AutoIPEnabled=false", "LXIDevice/LXIVersion=1.4"},
       }) {
    EXPECT_TRUE(has_run(xml, run)) << shown(run) << "\nin\n" << shown(xml);
  }
  EXPECT_EQ(xml.back(), "LXIDevice/LXIVersion=1.4");
  EXPECT_FALSE(has_run(xml, {"LXIDevice/Extension"}));
  // Nothing a remote visitor can use: the interface it reached, and the
  // ways only this machine has, for the page.
  id.ways.clear();
  id.this_machine_only = {"SOCKET", "INSTR"};
  const std::vector<std::string> none = outline(identification_xml(id));
  EXPECT_TRUE(std::none_of(none.begin(), none.end(), [](const std::string& line) {
    return line.find("InstrumentAddressString") != std::string::npos;
  }));
  EXPECT_TRUE(has_run(none, {"LXIDevice/Interface/IPAddress=192.168.1.5"}));
  EXPECT_TRUE(has_run(none, {"LXIDevice/Extension",
                             "LXIDevice/Extension/ThisMachineOnly {urn:talmir880:lxi}=SOCKET",
                             "LXIDevice/Extension/ThisMachineOnly {urn:talmir880:lxi}=INSTR",
                             "LXIDevice/LXIVersion=1.4"}))
      << shown(none);
}

TEST(Lxi, TheDescriptionNamesTheGenerators) {
  Identification id{{"TALMIR", "TALMIR-880", "0", "1.0.0"}, "h", "u", {}, {}, {}};
  EXPECT_TRUE(has_run(outline(identification_xml(id)),
                      {"LXIDevice/ManufacturerDescription=RF signal generator"}));
  id.description = "2 RF signal generators";
  EXPECT_TRUE(has_run(outline(identification_xml(id)),
                      {"LXIDevice/ManufacturerDescription=2 RF signal generators"}));
}

}  // namespace
}  // namespace talmir880::web
