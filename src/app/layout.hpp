#pragma once

#include <array>
#include <string_view>

namespace talmir880 {

// The window as designed, in twips (15 to a pixel at 96 dpi). Faces place
// every control from this table and nowhere else.
inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kClientWidth = 12360;
inline constexpr int kClientHeight = 4935;

enum class ControlKind { Button, Label, ComboBox, TextBox, ProgressBar };

struct FontSpec {
  std::string_view family;  // empty: the window's default font
  double points = 0;
  bool bold = false;
};

struct LayoutRow {
  int tab;
  std::string_view control;
  ControlKind kind;
  int left, top, width, height;
  FontSpec font;
  std::string_view tooltip;  // always Simplified Chinese
};

inline constexpr std::string_view kHei = "黑体";
inline constexpr std::string_view kSong = "宋体";

// In tab order; tab 0 has the focus when the window opens.
inline constexpr std::array<LayoutRow, 50> kLayout = {{
    {0, "Command_uart_port_closed", ControlKind::Button, 240, 1080, 1335, 495, {kHei, 10.5, true}, ""},
    {1, "Command_uart_port_open", ControlKind::Button, 240, 600, 1335, 495, {kHei, 10.5, true}, ""},
    {2, "Label_COM_state", ControlKind::Label, 360, 240, 1020, 240, {kSong, 12, true}, ""},
    {3, "COM_Combo", ControlKind::ComboBox, 1800, 697, 1095, 300, {}, ""},
    {4, "BAU_Combo", ControlKind::ComboBox, 1800, 1177, 1095, 300, {}, ""},
    {5, "Text_send", ControlKind::TextBox, 3600, 480, 8295, 855, {kHei, 36, true}, ""},
    {6, "Command1", ControlKind::Button, 7080, 1800, 975, 495, {kSong, 14.25, true}, ""},
    {7, "Command2", ControlKind::Button, 8040, 1800, 975, 495, {kSong, 14.25, true}, ""},
    {8, "Command3", ControlKind::Button, 9000, 1800, 975, 495, {kSong, 14.25, true}, ""},
    {9, "Command4", ControlKind::Button, 9960, 1800, 975, 495, {kSong, 14.25, true}, ""},
    {10, "Command5", ControlKind::Button, 7080, 2280, 975, 495, {kSong, 14.25, true}, ""},
    {11, "Command6", ControlKind::Button, 8040, 2280, 975, 495, {kSong, 14.25, true}, ""},
    {12, "Command7", ControlKind::Button, 9000, 2280, 975, 495, {kSong, 14.25, true}, ""},
    {13, "Command8", ControlKind::Button, 9960, 2280, 975, 495, {kSong, 14.25, true}, ""},
    {14, "Command9", ControlKind::Button, 7080, 2760, 975, 495, {kSong, 14.25, true}, ""},
    {15, "Command10", ControlKind::Button, 8040, 2760, 975, 495, {kSong, 14.25, true}, ""},
    {16, "Command11", ControlKind::Button, 9000, 2760, 975, 495, {kSong, 7.5, false}, ""},
    {17, "Command12", ControlKind::Button, 10920, 1800, 975, 495, {kSong, 14.25, true}, "输出GHz频率"},
    {18, "Command13", ControlKind::Button, 10920, 2760, 975, 495, {kSong, 14.25, true}, "输出kHz频率"},
    {19, "Command14", ControlKind::Button, 10920, 2280, 975, 495, {kSong, 14.25, true}, "输出MHz频率"},
    {20, "Command15", ControlKind::Button, 10920, 3240, 975, 495, {kSong, 12, true}, "输出Hz频率"},
    {21, "Command16", ControlKind::Button, 7080, 3240, 1935, 495, {kSong, 14.25, true}, "先按RF,再按频率"},
    {22, "Command17", ControlKind::Button, 9000, 3240, 1935, 495, {kSong, 14.25, true}, "先按MOD，再按调制频率"},
    {23, "Command21", ControlKind::Button, 8040, 3720, 1935, 495, {kSong, 14.25, true}, "打开/关闭射频输出"},
    {24, "Command22", ControlKind::Button, 9960, 3720, 1935, 495, {kSong, 14.25, true}, "打开/关闭调制"},
    {25, "Command23", ControlKind::Button, 9960, 2760, 975, 495, {kSong, 14.25, true}, ""},
    {26, "Command24", ControlKind::Button, 8040, 4200, 3855, 495, {kSong, 14.25, true}, "频率,调制,幅度固化;至少每样设置一次后,才能固化"},
    {27, "Combo1", ControlKind::ComboBox, 5280, 2785, 1215, 360, {kSong, 12, true}, "输出功率,4档"},
    {28, "Command18", ControlKind::Button, 7080, 3720, 975, 495, {kSong, 14.25, true}, ""},
    {29, "Command19", ControlKind::Button, 7080, 4200, 975, 495, {kSong, 14.25, true}, ""},
    {30, "Combo2", ControlKind::ComboBox, 5280, 3289, 1215, 360, {kSong, 12, true}, ""},
    {31, "Label_end", ControlKind::Label, 240, 2280, 450, 300, {kHei, 15, false}, ""},
    {32, "Label_star", ControlKind::Label, 240, 1800, 600, 300, {kHei, 15, false}, ""},
    {33, "Label_sample", ControlKind::Label, 240, 2760, 450, 300, {kHei, 15, false}, ""},
    {34, "Command_signal", ControlKind::Button, 360, 3720, 1335, 495, {kHei, 12, true}, "单次扫描"},
    {35, "Command_cont", ControlKind::Button, 1680, 3720, 1335, 495, {kHei, 12, true}, "连续扫描"},
    {36, "Text_star", ControlKind::TextBox, 960, 1763, 2055, 375, {kSong, 12, false}, "开始扫描频率,单位MHz"},
    {37, "Text_end", ControlKind::TextBox, 960, 2243, 2055, 375, {kSong, 12, false}, "结束扫描频率,单位MHz"},
    {38, "Text_sample", ControlKind::TextBox, 960, 2723, 2055, 375, {kSong, 12, false}, "扫描点数，最小5点，最大9999点"},
    {39, "ProgressBar_sweep", ControlKind::ProgressBar, 960, 3263, 2055, 255, {}, ""},
    {40, "Label_progress", ControlKind::Label, 240, 3240, 450, 300, {kHei, 15, false}, ""},
    {41, "Command_stop", ControlKind::Button, 360, 4200, 2655, 495, {kHei, 12, true}, "停止扫描"},
    {42, "Combo3", ControlKind::ComboBox, 5040, 4297, 1455, 360, {kSong, 12, true}, ""},
    {43, "Combo4", ControlKind::ComboBox, 5280, 3793, 1215, 360, {kSong, 12, true}, "保存工作模式，单点还是扫频"},
    {44, "Label3", ControlKind::Label, 3720, 3816, 1260, 315, {kHei, 15.75, false}, ""},
    {45, "Label_language", ControlKind::Label, 3720, 4320, 630, 315, {kHei, 15.75, false}, ""},
    {46, "Label2", ControlKind::Label, 3720, 3312, 1320, 315, {kHei, 15.75, false}, ""},
    {47, "Label1", ControlKind::Label, 3720, 2808, 1320, 315, {kHei, 15.75, false}, ""},
    {48, "Label_MOD", ControlKind::Label, 3720, 2304, 2640, 315, {kHei, 15.75, false}, ""},
    {49, "Label_RF", ControlKind::Label, 3720, 1800, 3135, 315, {kHei, 15.75, false}, ""},
}};

// Colours, as OLE values (red in the lowest byte).
inline constexpr int kDisplayBackColor = 4210752;  // dark grey 404040
inline constexpr int kDisplayForeColor = 65280;    // pure green

inline constexpr int to_pixels(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

}  // namespace talmir880
