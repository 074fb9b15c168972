#include "web/qt/page_json.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <string_view>
#include <type_traits>
#include <variant>

#include "protocol/settings.hpp"
#include "web/page_texts.hpp"

namespace talmir880::web {
namespace {

QString text(std::string_view value) {
  return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

QJsonValue json(const MessageValue& value) {
  return std::visit(
      [](const auto& v) -> QJsonValue {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          return text(v);
        } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
          QJsonArray out;
          for (const std::string& item : v) out.append(text(item));
          return out;
        } else if constexpr (std::is_same_v<T, long long>) {
          return static_cast<qint64>(v);
        } else {
          return v;
        }
      },
      value);
}

QByteArray compact(const QJsonArray& array) {
  return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

}  // namespace

QByteArray message_json(const Message& message) {
  QJsonObject out;
  for (const MessageField& f : message) out.insert(text(f.key), json(f.value));
  return QJsonDocument(out).toJson(QJsonDocument::Compact);
}

QJsonArray page_settings(std::span<const protocol::Setting> settings) {
  QJsonArray out;
  for (const protocol::Setting& s : settings) {
    if (s.page_control.empty()) continue;
    const double scale = page_scale(s);
    QJsonArray levels;
    for (const int dbm : s.levels) levels.append(dbm);
    QJsonObject label;
    for (std::size_t i = 0; i < kLanguageTags.size(); ++i) {
      label.insert(text(kLanguageTags[i]), text(s.page_label[i]));
    }
    // FREQ UP and DOWN's step is picked from the panel's steps (STEPS).
    const char* list = s.kind == protocol::SettingKind::level ? "levels"
                       : s.name == protocol::kTuningStep.name ? "steps"
                                                              : "";
    out.append(QJsonObject{{"name", text(s.name)},
                           {"control", text(s.page_control)},
                           {"action", text(s.page_action)},
                           {"group", text(s.page_group)},
                           {"kind", text(protocol::kind_name(s.kind))},
                           {"unit", text(page_unit(s))},
                           {"min", s.min / scale},
                           {"max", s.max / scale},
                           {"levels", levels},
                           {"choices", text(s.choices)},
                           {"list", list},
                           {"label", label}});
  }
  return out;
}

QByteArray texts_script(std::span<const protocol::Setting> settings) {
  QJsonArray languages;
  QJsonObject texts;
  for (std::size_t i = 0; i < kLanguageTags.size(); ++i) {
    languages.append(QJsonArray{text(kLanguageTags[i]), text(kLanguageNames[i])});
    QJsonObject language;
    for (const PageText& t : page_texts()) language.insert(text(t.key), text(t.text[i]));
    texts.insert(text(kLanguageTags[i]), language);
  }
  QJsonArray steps;
  for (const Step& step : page_steps()) {
    steps.append(QJsonArray{static_cast<qint64>(std::llround(step.hz)), text(step.caption)});
  }
  return "\"use strict\";\n// The server's table of the pages' texts and lists, and the settings\n"
         "// whose controls the page builds.\nconst LANGUAGES = " +
         compact(languages) +
         ";\nconst TEXTS = " + QJsonDocument(texts).toJson(QJsonDocument::Compact) +
         ";\nconst STEPS = " + compact(steps) +
         ";\nconst SETTINGS = " + compact(page_settings(settings)) + ";\n";
}

}  // namespace talmir880::web
