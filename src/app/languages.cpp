// The language switch: every language-dependent caption of the window, by
// the index of the language list (0 Simplified Chinese, 1 Traditional
// Chinese, 2 English).
#include <array>
#include <utility>

#include "app/form1.hpp"
#include "common/text.hpp"

namespace talmir880 {
namespace {

constexpr std::string_view kTitleTail = " KELDOR 2016-01-08";
constexpr Phrase kTitle = {"TALMIR-880控制软件", "TALMIR-880控制軟體",
                           "TALMIR-880 control software"};

const auto kButtons = std::to_array<std::pair<Button Form1::*, Phrase>>({
    {&Form1::Command_uart_port_open, {"打开串口", "打開串口", "PORT OPEN"}},
    {&Form1::Command_uart_port_closed, {"关闭串口", "關閉串口", "PORT CLOSED"}},
    {&Form1::Command_signal, {"单次", "單次", "SIGNAL"}},
    {&Form1::Command_cont, {"连续", "連續", "CONT"}},
    {&Form1::Command_stop, {"停止扫描", "停止掃描", "STOP SWEEP"}},
    {&Form1::Command23, {"清除", "清除", "CLS"}},
    {&Form1::Command24, {"保存到FLASH", "保存到FLASH", "SAVE FLASH"}},
    {&Form1::Command22, {"调制 开/关", "調製開/關", "MOD ON/OFF"}},
    {&Form1::Command21, {"射频 开/关", "射頻開/關", "RF ON/OFF"}},
    {&Form1::Command18, {"步进+", "步進+", "STEP+"}},
    {&Form1::Command19, {"步进-", "步進-", "STEP-"}},
    {&Form1::Command16, {"射频", "射頻", "RF"}},
    {&Form1::Command17, {"调制", "調製", "MOD"}},
});

const auto kLabels = std::to_array<std::pair<Label Form1::*, Phrase>>({
    {&Form1::Label_star, {"开始", "開始", "STAR"}},
    {&Form1::Label_end, {"结束", "結束", "END"}},
    {&Form1::Label_sample, {"采样", "採樣", "SAM"}},
    {&Form1::Label_progress, {"进度", "進度", "PRO"}},
    {&Form1::Label_language, {"语言", "語言", "LANG"}},
    {&Form1::Label1, {"射频电平", "射頻電平", "RF LEVEL"}},
    {&Form1::Label2, {"步进", "步進", "STEP"}},
    {&Form1::Label3, {"保存模式", "保存模式", "SAVE MODE"}},
});

constexpr Phrase kSingleMode = {"单点", "單點", "VFO"};
constexpr Phrase kSweepMode = {"扫频", "掃頻", "SWEEP"};
constexpr Phrase kPortOpen = {"串口打开", "串口打開", "PORT OPEN"};
constexpr Phrase kPortClosed = {"串口关闭", "串口關閉", "PORT CLOSED"};
constexpr Phrase kSaveHint = {
    "保存前，需要设置频率、调制、电平、扫频、单点/扫频模式，再按保存按钮！",
    "保存前，需要設定頻率、調製、電平、掃頻、單點/掃頻模式，再按保存按鈕！",
    "must be setting frequency&modulate&strength&sweep,then press save!"};

}  // namespace

void Form1::Combo3_Click() {
  const int index = Combo3.ListIndex();
  if (index < 0 || index > 2) return;
  auto text = [index](const Phrase& phrase) {
    return std::string(phrase[static_cast<std::size_t>(index)]);
  };

  form.set_Caption(text(kTitle) + std::string(kTitleTail));
  for (const auto& [button, phrase] : kButtons) (this->*button).set_Caption(text(phrase));
  for (const auto& [label, phrase] : kLabels) (this->*label).set_Caption(text(phrase));
  Combo4.set_List(0, text(kSingleMode));
  Combo4.set_List(1, text(kSweepMode));
  port_open_text = text(kPortOpen);
  port_closed_text = text(kPortClosed);
  save_hint = text(kSaveHint);

  // The label is in the previous language: keep telling open or closed.
  const std::string& shown = Label_COM_state.Caption();
  const bool open = contains(shown, "打开") || contains(shown, "打開") || contains(shown, "OPEN");
  Label_COM_state.set_Caption(open ? port_open_text : port_closed_text);
}

}  // namespace talmir880
