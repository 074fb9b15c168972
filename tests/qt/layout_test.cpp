// The window as designed: size, places, fonts, colours, tooltips, focus.
#include <map>
#include <string>
#include <vector>

#include <QColorSpace>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QRawFont>
#include <QResource>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>

#include "qt/window_fixture.hpp"

namespace talmir880::testing {
namespace {

QRect row_rect(const LayoutRow& row) {
  return QRect(to_pixels(row.left), to_pixels(row.top), to_pixels(row.width),
               to_pixels(row.height));
}

class LayoutTest : public WindowTest {
 protected:
  const LayoutRow& row_of(std::string_view control) {
    for (const LayoutRow& row : kLayout) {
      if (name(row) == control) return row;
    }
    throw std::logic_error("no row " + std::string(control));
  }
  QWidget* placed(std::string_view name) { return widget<QWidget>(name); }
  int caption_width(QLabel* shown) {
    return QFontMetrics(shown->font()).horizontalAdvance(shown->text());
  }
  // The Latin letters of the half-width Hei font are what the designed label
  // widths were measured in; the panel's own fonts are cut from the same.
  // Calls check(widget, text) for every caption, entry text and list item
  // shown in each of the languages.
  template <typename Check>
  void each_text(std::initializer_list<int> languages, Check check) {
    for (int language : languages) {
      form.Combo3.pick(language);
      for (auto* shown : window.findChildren<QPushButton*>()) check(shown, shown->text());
      for (auto* shown : window.findChildren<QLabel*>()) check(shown, shown->text());
      for (auto* shown : window.findChildren<QLineEdit*>()) check(shown, shown->text());
      for (auto* shown : window.findChildren<QComboBox*>()) {
        for (int i = 0; i < shown->count(); ++i) check(shown, shown->itemText(i));
      }
    }
  }
  bool half_width_hei() {
    const QString family = QFontInfo(label("Label_star")->font()).family();
    return family == kPanelFontFamily || family == "Noto Sans Mono CJK SC";
  }
};

TEST_F(LayoutTest, WindowHasTheDesignedFixedClientSizeAndItsIcon) {
  EXPECT_EQ(window.size(), QSize(824, 329));
  EXPECT_EQ(window.minimumSize(), QSize(824, 329));
  EXPECT_EQ(window.maximumSize(), QSize(824, 329));
  ASSERT_FALSE(window.windowIcon().isNull());
  EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(100, 49)));
}

// The window reads its icon from a PPM made of talmir880.png by
// packaging/make_icons.sh; an icon changed without running it shows here.
TEST_F(LayoutTest, TheIconHasThePixelsOfItsPng) {
  QImage png(QStringLiteral(TALMIR880_ICON_PNG), "png");
  const QImage ppm(QString::fromLatin1(kIconResource), "ppm");
  ASSERT_FALSE(png.isNull());
  // The PNG's gamma chunk gives it a colour space, which the window's icon
  // never used: only the pixels count.
  png.setColorSpace(QColorSpace());
  EXPECT_EQ(ppm.convertToFormat(QImage::Format_RGB32), png.convertToFormat(QImage::Format_RGB32));
}

TEST_F(LayoutTest, EveryControlHasOneWidgetOfItsKind) {
  for (Control* c : form.controls()) {
    if (c == &form.form) continue;
    EXPECT_EQ(window.findChildren<QObject*>(QString::fromStdString(c->name())).size(), 1)
        << c->name();
  }
  for (const LayoutRow& row : kLayout) {
    QObject* shown = widget<QObject>(name(row));
    switch (row.kind()) {
      case ControlKind::Button:
        EXPECT_NE(qobject_cast<QPushButton*>(shown), nullptr) << name(row);
        break;
      case ControlKind::Label:
        EXPECT_NE(qobject_cast<QLabel*>(shown), nullptr) << name(row);
        break;
      case ControlKind::TextBox:
        EXPECT_NE(qobject_cast<QLineEdit*>(shown), nullptr) << name(row);
        break;
      case ControlKind::ComboBox:
        ASSERT_NE(qobject_cast<QComboBox*>(shown), nullptr) << name(row);
        EXPECT_FALSE(qobject_cast<QComboBox*>(shown)->isEditable()) << name(row);
        break;
      case ControlKind::ProgressBar:
        EXPECT_NE(qobject_cast<QProgressBar*>(shown), nullptr) << name(row);
        break;
    }
  }
}

TEST_F(LayoutTest, EveryWidgetSitsAtItsRow) {
  for (const LayoutRow& row : kLayout) {
    QWidget* shown = placed(name(row));
    if (row.kind() != ControlKind::Label) {
      EXPECT_EQ(shown->geometry(), row_rect(row)) << name(row);
      continue;
    }
    // A label keeps its corner and fits its caption: as wide as the text,
    // as high as the font's line, which holds the designed em height.
    EXPECT_EQ(shown->pos(), row_rect(row).topLeft()) << name(row);
    EXPECT_NEAR(shown->width(), caption_width(label(name(row))), 1) << name(row);
    EXPECT_NEAR(shown->height(), QFontMetrics(shown->font()).height(), 1) << name(row);
    EXPECT_GE(shown->height(), row_rect(row).height()) << name(row);
  }
  // A few by hand, in pixels.
  EXPECT_EQ(placed("Command_uart_port_closed")->geometry(), QRect(16, 72, 89, 33));
  EXPECT_EQ(placed("Text_send")->geometry(), QRect(240, 32, 553, 57));
  EXPECT_EQ(placed("Command24")->geometry(), QRect(536, 280, 257, 33));
  EXPECT_EQ(placed("ProgressBar_sweep")->geometry(), QRect(64, 218, 137, 17));
  EXPECT_EQ(placed("Combo3")->geometry(), QRect(336, 286, 97, 24));
  EXPECT_EQ(placed("Label_RF")->pos(), QPoint(248, 120));
}

TEST_F(LayoutTest, LabelsResizeFromTheirCornerWhenTheLanguageChanges) {
  std::map<std::string, QRect> chinese;
  for (auto* shown : window.findChildren<QLabel*>()) {
    chinese[shown->objectName().toStdString()] = shown->geometry();
  }
  pick("Combo3", 2);
  for (const auto& [name, before] : chinese) {
    QLabel* shown = label(name);
    EXPECT_EQ(shown->pos(), before.topLeft()) << name;
    EXPECT_EQ(shown->height(), before.height()) << name;
    EXPECT_NEAR(shown->width(), caption_width(shown), 1) << name;
  }
  EXPECT_EQ(label("Label_star")->text(), "STAR");
  EXPECT_EQ(label("Label_language")->text(), "LANG");
  for (const char* name : {"Label_end", "Label_sample", "Label_progress"}) {
    EXPECT_LT(label(name)->width(), chinese[name].width()) << name << " shrinks";
  }
  EXPECT_GT(label("Label3")->width(), chinese["Label3"].width()) << "SAVE MODE grows";
}

// The designed widths were measured in half-width Latin letters and
// full-width ideographs; the substitute font has the same proportions.
TEST_F(LayoutTest, LabelsAtTheirDesignedCaptionsHaveTheirRowWidth) {
  if (!half_width_hei()) GTEST_SKIP() << "needs Noto Sans Mono CJK SC for 黑体";
  auto expect_row_width = [&](const char* name) {
    const QRect row = row_rect(row_of(name));
    EXPECT_EQ(placed(name)->pos(), row.topLeft()) << name;
    EXPECT_EQ(placed(name)->width(), row.width()) << name;
  };
  for (const char* name : {"Label_star", "Label_language", "Label3"}) expect_row_width(name);
  pick("Combo3", 2);
  for (const char* name :
       {"Label_star", "Label_end", "Label_sample", "Label_progress", "Label_language"}) {
    expect_row_width(name);
  }
}

// The family a font names first: the designed one, or where that is not
// installed its first installed substitute, with the later ones behind it.
QStringList designed_families(const QString& designed) {
  const QStringList installed = QFontDatabase::families();
  if (installed.contains(designed, Qt::CaseInsensitive)) return {designed};
  const QStringList substitutes = QFont::substitutes(designed);
  for (qsizetype i = 0; i < substitutes.size(); ++i) {
    if (installed.contains(substitutes[i], Qt::CaseInsensitive)) return substitutes.mid(i);
  }
  return {designed};
}

TEST_F(LayoutTest, EveryFontIsTheDesignedOne) {
  for (const LayoutRow& row : kLayout) {
    QWidget* shown = placed(name(row));
    if (row.font.family.empty()) {
      EXPECT_FALSE(shown->testAttribute(Qt::WA_SetFont)) << name(row);
      EXPECT_EQ(shown->font(), window.font()) << name(row);
      continue;
    }
    const QFont font = shown->font();
    EXPECT_EQ(font.families(), designed_families(QString::fromUtf8(
                                   row.font.family.data(), qsizetype(row.font.family.size()))))
        << name(row);
    EXPECT_EQ(font.pointSizeF(), row.font.points) << name(row);
    EXPECT_EQ(font.weight(), row.font.bold ? QFont::Bold : QFont::Normal) << name(row);
    EXPECT_FALSE(font.italic() || font.underline() || font.strikeOut()) << name(row);
  }
  const QFont dot = placed("Command11")->font();
  EXPECT_EQ(dot.families(), designed_families("宋体"));
  EXPECT_EQ(dot.pointSizeF(), 7.5);
  EXPECT_EQ(dot.weight(), QFont::Normal);
  const QFont display = placed("Text_send")->font();
  EXPECT_EQ(display.families(), designed_families("黑体"));
  EXPECT_EQ(display.pointSizeF(), 36.0);
  EXPECT_EQ(display.weight(), QFont::Bold);
}

// Naming the family drawn spares Qt a search, and changes nothing drawn.
TEST_F(LayoutTest, EachFontDrawsInTheFamilyItsDesignedNameFinds) {
  for (const LayoutRow& row : kLayout) {
    if (row.font.family.empty()) continue;
    QFont by_name(QString::fromUtf8(row.font.family.data(), qsizetype(row.font.family.size())));
    by_name.setPointSizeF(row.font.points);
    by_name.setWeight(row.font.bold ? QFont::Bold : QFont::Normal);
    const QFontInfo shown(placed(name(row))->font());
    const QFontInfo designed(by_name);
    EXPECT_EQ(shown.family(), designed.family()) << name(row);
    EXPECT_EQ(shown.styleName(), designed.styleName()) << name(row);
    EXPECT_EQ(shown.pixelSize(), designed.pixelSize()) << name(row);
  }
}

TEST_F(LayoutTest, TheChineseFontNamesFindFontsWithTheGlyphs) {
  EXPECT_TRUE(QFont::substitutes("黑体").contains("Noto Sans Mono CJK SC", Qt::CaseInsensitive));
  EXPECT_TRUE(QFont::substitutes("宋体").contains("Noto Serif CJK SC", Qt::CaseInsensitive));
  // The font each caption is drawn in has every one of its characters, so
  // no caption falls back to boxes.
  auto check = [](QWidget* shown, const QString& text) {
    const QFontMetrics metrics(shown->font());
    for (char32_t ch : text.toUcs4()) {
      EXPECT_TRUE(metrics.inFontUcs4(ch))
          << shown->objectName().toStdString() << " lacks U+" << std::hex << unsigned(ch) << " in "
          << QFontInfo(shown->font()).family().toStdString();
    }
  };
  each_text({0, 1}, check);
}

// Where SimHei and SimSun are missing, every caption is drawn from the
// program's own fonts, and each of them has every character of every
// caption and list item in every language. A text that gains a character
// needs scripts/subset_fonts.py run again.
TEST_F(LayoutTest, EveryCaptionIsInThePanelsOwnFonts) {
  std::vector<QRawFont> own;
  for (const char* path : kFontResources) {
    const QResource resource(QString::fromLatin1(path));
    ASSERT_TRUE(resource.isValid()) << path;
    own.emplace_back(resource.uncompressedData(), 12);
    ASSERT_TRUE(own.back().isValid()) << path;
    EXPECT_EQ(own.back().familyName(), kPanelFontFamily) << path;
  }
  EXPECT_EQ(own[0].weight(), QFont::Normal);
  EXPECT_EQ(own[1].weight(), QFont::Bold);

  const QStringList installed = QFontDatabase::families();
  const bool designed_installed = installed.contains("SimHei") || installed.contains("SimSun");
  auto check = [&](QWidget* shown, const QString& text) {
    if (!designed_installed && shown->testAttribute(Qt::WA_SetFont)) {
      EXPECT_EQ(QFontInfo(shown->font()).family(), kPanelFontFamily) << text_of(text);
    }
    for (char32_t ch : text.toUcs4()) {
      for (const QRawFont& font : own) {
        EXPECT_TRUE(font.supportsCharacter(ch))
            << text_of(text) << ": U+" << std::hex << unsigned(ch)
            << " missing; run scripts/subset_fonts.py";
      }
    }
  };
  each_text({0, 1, 2}, check);
}

// The panel's fonts hold only its own texts; whatever else is typed into an
// entry line is drawn from the system's fonts, never as empty boxes.
TEST_F(LayoutTest, TypedTextBeyondThePanelsFontsStillFindsAFont) {
  const QString typed = QString::fromUtf8("龍鳳 Ωλ");
  for (const char* name : {"Text_send", "Text_star", "Text_end", "Text_sample"}) {
    const QFontMetrics metrics(placed(name)->font());
    for (char32_t ch : typed.toUcs4()) {
      if (ch == U' ') continue;
      EXPECT_TRUE(metrics.inFontUcs4(ch)) << name << " U+" << std::hex << unsigned(ch);
    }
  }
}

// Each key and list has room for its caption in every language, as it had
// in the fonts it was designed in.
TEST_F(LayoutTest, EveryCaptionFitsItsKeyOrList) {
  if (!half_width_hei()) GTEST_SKIP() << "needs Noto Sans Mono CJK SC";
  for (int language : {0, 1, 2}) {
    pick("Combo3", language);
    for (auto* key : window.findChildren<QPushButton*>()) {
      QStyleOptionButton option;
      option.initFrom(key);
      option.text = key->text();
      const QRect room = key->style()->subElementRect(QStyle::SE_PushButtonContents, &option, key);
      EXPECT_LE(QFontMetrics(key->font()).horizontalAdvance(key->text()), room.width())
          << text_of(key->text());
    }
    for (auto* list : window.findChildren<QComboBox*>()) {
      QStyleOptionComboBox option;
      option.initFrom(list);
      option.editable = false;
      const QRect room = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                       QStyle::SC_ComboBoxEditField, list);
      for (int i = 0; i < list->count(); ++i) {
        EXPECT_LE(QFontMetrics(list->font()).horizontalAdvance(list->itemText(i)), room.width())
            << text_of(list->itemText(i));
      }
    }
  }
}

TEST_F(LayoutTest, TheEntryLineIsAGreenOnGreyDisplay) {
  const QPalette display = placed("Text_send")->palette();
  EXPECT_EQ(display.color(QPalette::Base), QColor(0x40, 0x40, 0x40));
  EXPECT_EQ(display.color(QPalette::Text), QColor(0x00, 0xFF, 0x00));
  for (const char* name : {"Text_star", "Text_end", "Text_sample"}) {
    EXPECT_FALSE(placed(name)->testAttribute(Qt::WA_SetPalette)) << name;
  }
}

TEST_F(LayoutTest, TooltipsAreTheDesignedOnesByteForByte) {
  const std::map<std::string, std::string> tips = {
      {"Command12", "输出GHz频率"},
      {"Command13", "输出kHz频率"},
      {"Command14", "输出MHz频率"},
      {"Command15", "输出Hz频率"},
      {"Command16", "先按RF,再按频率"},
      {"Command17", "先按MOD，再按调制频率"},
      {"Command21", "打开/关闭射频输出"},
      {"Command22", "打开/关闭调制"},
      {"Command24", "频率,调制,幅度固化;至少每样设置一次后,才能固化"},
      {"Combo1", "输出功率,4档"},
      {"Command_signal", "单次扫描"},
      {"Command_cont", "连续扫描"},
      {"Text_star", "开始扫描频率,单位MHz"},
      {"Text_end", "结束扫描频率,单位MHz"},
      {"Text_sample", "扫描点数，最小5点，最大9999点"},
      {"Command_stop", "停止扫描"},
      {"Combo4", "保存工作模式，单点还是扫频"},
  };
  for (const LayoutRow& row : kLayout) {
    const std::string& control = name(row);
    const auto tip = tips.find(control);
    const std::string expected = tip == tips.end() ? "" : tip->second;
    EXPECT_EQ(placed(control)->toolTip().toUtf8().toStdString(), expected) << control;
  }
  EXPECT_TRUE(placed("Combo2")->toolTip().isEmpty());
  EXPECT_TRUE(placed("Combo3")->toolTip().isEmpty());
  // Tooltips stay Simplified Chinese in English.
  pick("Combo3", 2);
  EXPECT_EQ(text_of(placed("Combo4")->toolTip()), "保存工作模式，单点还是扫频");
}

TEST_F(LayoutTest, FocusStartsOnTheCloseButtonAndTabFollowsTheTable) {
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  ASSERT_NE(QApplication::focusWidget(), nullptr);
  EXPECT_EQ(QApplication::focusWidget()->objectName(), "Command_uart_port_closed");

  std::vector<std::string> expected;
  for (const LayoutRow& row : kLayout) {
    const bool focusable =
        row.kind() != ControlKind::Label && row.kind() != ControlKind::ProgressBar;
    EXPECT_EQ(placed(name(row))->focusPolicy() != Qt::NoFocus, focusable) << name(row);
    if (focusable) expected.emplace_back(name(row));
  }
  ASSERT_GE(expected.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(expected.begin(), expected.begin() + 6),
            (std::vector<std::string>{"Command_uart_port_closed", "Command_uart_port_open",
                                      "COM_Combo", "BAU_Combo", "Text_send", "Command1"}));
  expected.push_back(expected.front());  // and round again

  std::vector<std::string> visited{text_of(QApplication::focusWidget()->objectName())};
  for (std::size_t i = 1; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited.push_back(text_of(QApplication::focusWidget()->objectName()));
  }
  EXPECT_EQ(visited, expected);
}

}  // namespace
}  // namespace talmir880::testing
