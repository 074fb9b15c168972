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

QByteArray texts_script() {
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
  QJsonArray levels;
  for (const int dbm : protocol::kLevel.levels) levels.append(dbm);
  return "\"use strict\";\n// The server's table of the pages' texts and lists.\n"
         "const LANGUAGES = " +
         compact(languages) +
         ";\nconst TEXTS = " + QJsonDocument(texts).toJson(QJsonDocument::Compact) +
         ";\nconst STEPS = " + compact(steps) + ";\nconst LEVELS = " + compact(levels) + ";\n";
}

}  // namespace talmir880::web
