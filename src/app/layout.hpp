#pragma once

#include <array>
#include <string_view>
#include <variant>

#include "app/form1.hpp"

namespace talmir880 {

// The window as designed, in twips (15 to a pixel at 96 dpi). Faces place
// every control from this table and nowhere else.
inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kClientWidth = 12360;
inline constexpr int kClientHeight = 4935;

// In the order of ControlMember's alternatives.
enum class ControlKind { Button, Label, ComboBox, TextBox, ProgressBar };

// A placed control of Form1; which member says what kind it is.
using ControlMember = std::variant<Button Form1::*, Label Form1::*, ComboBox Form1::*,
                                   TextBox Form1::*, ProgressBar Form1::*>;

struct FontSpec {
  std::string_view family;  // empty: the window's default font
  double points = 0;
  bool bold = false;
};

struct LayoutRow {
  int tab;
  ControlMember control;
  int left, top, width, height;
  FontSpec font;
  std::string_view tooltip;  // always Simplified Chinese

  ControlKind kind() const { return static_cast<ControlKind>(control.index()); }
  Control& of(Form1& form) const {
    return std::visit([&form](auto member) -> Control& { return form.*member; }, control);
  }
};

inline constexpr std::string_view kHei = "黑体";
inline constexpr std::string_view kSong = "宋体";

// In tab order; tab 0 has the focus when the window opens.
// clang-format off
inline constexpr auto kLayout = std::to_array<LayoutRow>({
    {0, &Form1::Command_uart_port_closed, 240, 1080, 1335, 495, {kHei, 10.5, true}, ""},
    {1, &Form1::Command_uart_port_open, 240, 600, 1335, 495, {kHei, 10.5, true}, ""},
    {2, &Form1::Label_COM_state, 360, 240, 1020, 240, {kSong, 12, true}, ""},
    {3, &Form1::COM_Combo, 1800, 697, 1095, 300, {}, ""},
    {4, &Form1::BAU_Combo, 1800, 1177, 1095, 300, {}, ""},
    {5, &Form1::Text_send, 3600, 480, 8295, 855, {kHei, 36, true}, ""},
    {6, &Form1::Command1, 7080, 1800, 975, 495, {kSong, 14.25, true}, ""},
    {7, &Form1::Command2, 8040, 1800, 975, 495, {kSong, 14.25, true}, ""},
    {8, &Form1::Command3, 9000, 1800, 975, 495, {kSong, 14.25, true}, ""},
    {9, &Form1::Command4, 9960, 1800, 975, 495, {kSong, 14.25, true}, ""},
    {10, &Form1::Command5, 7080, 2280, 975, 495, {kSong, 14.25, true}, ""},
    {11, &Form1::Command6, 8040, 2280, 975, 495, {kSong, 14.25, true}, ""},
    {12, &Form1::Command7, 9000, 2280, 975, 495, {kSong, 14.25, true}, ""},
    {13, &Form1::Command8, 9960, 2280, 975, 495, {kSong, 14.25, true}, ""},
    {14, &Form1::Command9, 7080, 2760, 975, 495, {kSong, 14.25, true}, ""},
    {15, &Form1::Command10, 8040, 2760, 975, 495, {kSong, 14.25, true}, ""},
    {16, &Form1::Command11, 9000, 2760, 975, 495, {kSong, 7.5, false}, ""},
    {17, &Form1::Command12, 10920, 1800, 975, 495, {kSong, 14.25, true}, "输出GHz频率"},
    {18, &Form1::Command13, 10920, 2760, 975, 495, {kSong, 14.25, true}, "输出kHz频率"},
    {19, &Form1::Command14, 10920, 2280, 975, 495, {kSong, 14.25, true}, "输出MHz频率"},
    {20, &Form1::Command15, 10920, 3240, 975, 495, {kSong, 12, true}, "输出Hz频率"},
    {21, &Form1::Command16, 7080, 3240, 1935, 495, {kSong, 14.25, true}, "先按RF,再按频率"},
    {22, &Form1::Command17, 9000, 3240, 1935, 495, {kSong, 14.25, true}, "先按MOD，再按调制频率"},
    {23, &Form1::Command21, 8040, 3720, 1935, 495, {kSong, 14.25, true}, "打开/关闭射频输出"},
    {24, &Form1::Command22, 9960, 3720, 1935, 495, {kSong, 14.25, true}, "打开/关闭调制"},
    {25, &Form1::Command23, 9960, 2760, 975, 495, {kSong, 14.25, true}, ""},
    {26, &Form1::Command24, 8040, 4200, 3855, 495, {kSong, 14.25, true}, "频率,调制,幅度固化;至少每样设置一次后,才能固化"},
    {27, &Form1::Combo1, 5280, 2785, 1215, 360, {kSong, 12, true}, "输出功率,4档"},
    {28, &Form1::Command18, 7080, 3720, 975, 495, {kSong, 14.25, true}, ""},
    {29, &Form1::Command19, 7080, 4200, 975, 495, {kSong, 14.25, true}, ""},
    {30, &Form1::Combo2, 5280, 3289, 1215, 360, {kSong, 12, true}, ""},
    {31, &Form1::Label_end, 240, 2280, 450, 300, {kHei, 15, false}, ""},
    {32, &Form1::Label_star, 240, 1800, 600, 300, {kHei, 15, false}, ""},
    {33, &Form1::Label_sample, 240, 2760, 450, 300, {kHei, 15, false}, ""},
    {34, &Form1::Command_signal, 360, 3720, 1335, 495, {kHei, 12, true}, "单次扫描"},
    {35, &Form1::Command_cont, 1680, 3720, 1335, 495, {kHei, 12, true}, "连续扫描"},
    {36, &Form1::Text_star, 960, 1763, 2055, 375, {kSong, 12, false}, "开始扫描频率,单位MHz"},
    {37, &Form1::Text_end, 960, 2243, 2055, 375, {kSong, 12, false}, "结束扫描频率,单位MHz"},
    {38, &Form1::Text_sample, 960, 2723, 2055, 375, {kSong, 12, false}, "扫描点数，最小5点，最大9999点"},
    {39, &Form1::ProgressBar_sweep, 960, 3263, 2055, 255, {}, ""},
    {40, &Form1::Label_progress, 240, 3240, 450, 300, {kHei, 15, false}, ""},
    {41, &Form1::Command_stop, 360, 4200, 2655, 495, {kHei, 12, true}, "停止扫描"},
    {42, &Form1::Combo3, 5040, 4297, 1455, 360, {kSong, 12, true}, ""},
    {43, &Form1::Combo4, 5280, 3793, 1215, 360, {kSong, 12, true}, "保存工作模式，单点还是扫频"},
    {44, &Form1::Label3, 3720, 3816, 1260, 315, {kHei, 15.75, false}, ""},
    {45, &Form1::Label_language, 3720, 4320, 630, 315, {kHei, 15.75, false}, ""},
    {46, &Form1::Label2, 3720, 3312, 1320, 315, {kHei, 15.75, false}, ""},
    {47, &Form1::Label1, 3720, 2808, 1320, 315, {kHei, 15.75, false}, ""},
    {48, &Form1::Label_MOD, 3720, 2304, 2640, 315, {kHei, 15.75, false}, ""},
    {49, &Form1::Label_RF, 3720, 1800, 3135, 315, {kHei, 15.75, false}, ""},
});
// clang-format on

// Colours, as OLE values (red in the lowest byte).
inline constexpr int kDisplayBackColor = 4210752;  // dark grey 404040
inline constexpr int kDisplayForeColor = 65280;    // pure green

inline constexpr int to_pixels(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

}  // namespace talmir880
