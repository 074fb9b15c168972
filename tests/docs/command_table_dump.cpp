// Prints the command table for the documents' drift test and their
// generator (scripts/describe.py), one tab-separated line per row: "row",
// header, setting (0/1), query (0/1), parameter kind, min, max. Then the
// device facts the Python class takes: "levels", "rf_unit" and
// "max_sweep_step"; "bytes", what, command for the commands the documents
// show, and "plain", setting, value ("start_up" or a level), command for
// each plain setting; "status", register, name, value, words for each
// status bit the instrument sets; and "error", number, text for each error.
// With --resolve, prints instead the header of the row each argument (a
// setting as written: "FREQ:STAR") names, or "-". With --settings, prints the
// settings' description as JSON (with --test-only after it, and a setting
// the device does not have), each with its attribute's name in a control
// system; with --attributes, those attributes as JSON (--test-only as
// well); with --page-line, the header of the row
// each web page action ("rf_mhz") sets with a value of 1, or "-"; with
// --panel-steps, the panel's tuning steps in Hz, one a line; with
// --page-settings, the settings' controls as texts.js gives them to the
// page (where the web face is built).
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/attributes.hpp"
#include "generator/status.hpp"
#include "protocol/commands.hpp"
#include "protocol/settings.hpp"
#include "scpi/command_table.hpp"
#include "scpi/parser.hpp"
#include "support/test_only_setting.hpp"
#include "web/page_messages.hpp"
#ifdef TALMIR880_DUMP_PAGE
#include "web/qt/page_json.hpp"
#endif

namespace {

using namespace talmir880;

std::string number(double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", x);
  return buf;
}

void print_table() {
  for (const scpi::RowSummary& row : scpi::row_summaries()) {
    std::printf("row\t%.*s\t%d\t%d\t%.*s\t%s\t%s\n", static_cast<int>(row.header.size()),
                row.header.data(), row.setting ? 1 : 0, row.query ? 1 : 0,
                static_cast<int>(row.takes.size()), row.takes.data(), number(row.min).c_str(),
                number(row.max).c_str());
  }
  std::string levels;
  for (int level : protocol::kLevelsDbm)
    levels += (levels.empty() ? "" : ",") + std::to_string(level);
  std::printf("levels\t%s\n", levels.c_str());
  std::printf("rf_unit\t%s\n", number(protocol::kRfUnitHz).c_str());
  std::printf("max_sweep_step\t%s\n", number(protocol::kMaxSweepStepHz).c_str());
  // The bytes the documents show, as the encoders make them.
  std::printf("bytes\trf_off\t%.*s\n", static_cast<int>(protocol::kRfOff.size()),
              protocol::kRfOff.data());
  std::printf("bytes\tmodulation_off\t%.*s\n", static_cast<int>(protocol::kModulationOff.size()),
              protocol::kModulationOff.data());
  std::printf("bytes\tsave_cw\t%s\n", protocol::save(protocol::SaveMode::single_point).c_str());
  std::printf("bytes\tsave_sweep\t%s\n", protocol::save(protocol::SaveMode::sweep).c_str());
  for (const protocol::Setting& s : protocol::kSettings) {
    if (!protocol::is_plain(s)) continue;
    std::printf("plain\t%.*s\tstart_up\t%s\n", static_cast<int>(s.name.size()), s.name.data(),
                s.encode(s.start_up).c_str());
    for (const int level : s.levels) {
      std::printf("plain\t%.*s\t%d\t%s\n", static_cast<int>(s.name.size()), s.name.data(), level,
                  s.encode(level).c_str());
    }
  }
  // The condition bits the instrument sets, as the documents name them.
  struct Bit {
    const char* reg;
    const char* name;
    int value;
    const char* words;
  };
  for (const Bit& bit :
       {Bit{"operation", "sweeping", Status::kSweeping, "sweeping"},
        Bit{"questionable", "not_answering", Status::kNotAnswering, "device not answering"},
        Bit{"questionable", "not_confirmed", Status::kNotConfirmed, "output not confirmed"}}) {
    std::printf("status\t%s\t%s\t%d\t%s\n", bit.reg, bit.name, bit.value, bit.words);
  }
  for (const ErrorRow& error : kErrors) {
    std::printf("error\t%d\t%.*s\n", error.code, static_cast<int>(error.text.size()),
                error.text.data());
  }
}

std::string resolved(std::string_view written) {
  try {
    scpi::HeaderPath path;
    return std::string(path.resolve(scpi::parse_unit(written)));
  } catch (const Refused&) {
    return "-";
  }
}

QString text(std::string_view value) {
  return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

std::vector<protocol::Setting> described(bool test_only) {
  std::vector<protocol::Setting> settings(protocol::kSettings.begin(), protocol::kSettings.end());
  if (test_only) settings.push_back(testing::kTestOnlyOffset);
  return settings;
}

void print_settings(bool test_only) {
  const std::vector<protocol::Setting> settings = described(test_only);
  // One attribute a setting, in their order; sweepProgress after them.
  const std::vector<control::Attribute> attributes = control::attributes_of(settings);
  QJsonArray out;
  for (std::size_t i = 0; i < settings.size(); ++i) {
    const protocol::Setting& s = settings[i];
    QJsonArray levels;
    for (const int level : s.levels) levels.append(level);
    out.append(QJsonObject{
        {"name", text(s.name)},
        {"header", text(s.header)},
        {"also", text(s.also)},
        {"device", text(s.device)},
        {"kind", text(protocol::kind_name(s.kind))},
        {"steps", s.steps},
        {"min", s.min},
        {"max", s.max},
        {"levels", levels},
        {"choices", text(s.choices)},
        {"unit", text(s.unit)},
        {"start_up", s.start_up},
        {"page_control", text(s.page_control)},
        {"page_action", text(s.page_action)},
        {"page_group", text(s.page_group)},
        {"python", text(s.python)},
        {"control", text(attributes[i].name)},
    });
  }
  std::printf("%s", QJsonDocument(out).toJson(QJsonDocument::Indented).constData());
}

QString type_name(control::AttributeType type) {
  switch (type) {
    case control::AttributeType::real:
      return "real";
    case control::AttributeType::whole:
      return "whole";
    case control::AttributeType::flag:
      return "flag";
    case control::AttributeType::choice:
      break;
  }
  return "choice";
}

void print_attributes(bool test_only) {
  const std::vector<protocol::Setting> settings = described(test_only);
  QJsonArray out;
  for (const control::Attribute& a : control::attributes_of(settings)) {
    QJsonArray choices;
    for (const std::string& choice : a.choices) choices.append(text(choice));
    out.append(QJsonObject{
        {"name", text(a.name)},
        {"setting", a.setting != nullptr ? text(a.setting->name) : QString()},
        {"type", type_name(a.type)},
        {"writable", a.writable},
        {"memorized", a.memorized},
        {"label", text(a.label)},
        {"unit", text(a.unit)},
        {"format", text(a.format)},
        {"min", a.min ? QJsonValue(*a.min) : QJsonValue()},
        {"max", a.max ? QJsonValue(*a.max) : QJsonValue()},
        {"choices", choices},
    });
  }
  std::printf("%s", QJsonDocument(out).toJson(QJsonDocument::Indented).constData());
}

std::string page_line_header(std::string_view action) {
  const std::optional<web::PageAction> made = web::page_action(std::string(action) + " 1");
  if (!made) return "-";
  const std::string_view first = std::string_view(made->line).substr(0, made->line.find(';'));
  return resolved(first.substr(0, first.find(' ')));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "--resolve") {
    for (int i = 2; i < argc; ++i) std::printf("%s\n", resolved(argv[i]).c_str());
    return 0;
  }
  if (argc > 1 && std::string_view(argv[1]) == "--settings") {
    print_settings(argc > 2 && std::string_view(argv[2]) == "--test-only");
    return 0;
  }
  if (argc > 1 && std::string_view(argv[1]) == "--attributes") {
    print_attributes(argc > 2 && std::string_view(argv[2]) == "--test-only");
    return 0;
  }
  if (argc > 1 && std::string_view(argv[1]) == "--page-settings") {
#ifdef TALMIR880_DUMP_PAGE
    std::printf("%s", QJsonDocument(web::page_settings()).toJson().constData());
    return 0;
#else
    std::fprintf(stderr, "built without the web face\n");
    return 2;
#endif
  }
  if (argc > 1 && std::string_view(argv[1]) == "--panel-steps") {
    for (const double step : protocol::kTuningStepsHz) std::printf("%.17g\n", step);
    return 0;
  }
  if (argc > 1 && std::string_view(argv[1]) == "--page-line") {
    for (int i = 2; i < argc; ++i) std::printf("%s\n", page_line_header(argv[i]).c_str());
    return 0;
  }
  print_table();
  return 0;
}
