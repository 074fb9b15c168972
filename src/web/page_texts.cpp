#include "web/page_texts.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "generator/generator.hpp"
#include "protocol/commands.hpp"

namespace talmir880::web {
namespace {

// Simplified Chinese, Traditional Chinese, English. The rows marked
// "panel" carry the panel's own captions (a test holds them to it). A
// setting's words are in its description (protocol/settings.hpp).
constexpr PageText kTexts[] = {
    // The header and the link.
    {"subtitle", {"射频信号发生器", "射頻訊號產生器", "RF signal generator"}},
    {"connecting", {"正在连接…", "正在連線…", "Connecting…"}},
    {"live", {"已连接", "已連線", "Live"}},
    {"disconnected",
     {"连接已断开，正在重试…", "連線已中斷，正在重試…", "Disconnected; trying again…"}},
    {"all_generators", {"全部发生器", "全部產生器", "All generators"}},
    {"language", {"语言", "語言", "Language"}},  // panel
    // What the generator does now.
    {"now", {"当前状态", "目前狀態", "Now"}},
    {"rf", {"射频", "射頻", "RF"}},                  // panel
    {"modulation", {"调制", "調製", "Modulation"}},  // panel
    {"port", {"串口", "串口", "Port"}},
    {"output_on", {"输出开", "輸出開", "output on"}},
    {"output_off", {"输出关", "輸出關", "output off"}},
    {"output_unsure", {"输出未确认", "輸出未確認", "output not confirmed"}},
    {"on", {"开", "開", "on"}},
    {"off", {"关", "關", "off"}},
    {"not_confirmed", {"未确认", "未確認", "not confirmed"}},
    {"port_open", {"串口打开", "串口打開", "open"}},      // panel (Chinese)
    {"port_closed", {"串口关闭", "串口關閉", "closed"}},  // panel (Chinese)
    {"port_absent", {"串口不存在", "串口不存在", "absent"}},
    {"port_gone", {"串口已断开", "串口已中斷", "gone"}},
    // Read-only, and the login.
    {"read_only", {"只读", "唯讀", "Read-only"}},
    {"why_log_in",
     {"请用服务器的密码登录后再更改设置。", "請用伺服器的密碼登入後再變更設定。",
      "Log in with the server's password to change settings from this machine."}},
    {"why_this_machine",
     {"只有发生器所在的计算机可以更改设置：服务器未设密码。",
      "只有產生器所在的電腦可以變更設定：伺服器未設密碼。",
      "Only the generator's own machine may change settings: the server has no password set."}},
    {"password", {"密码", "密碼", "Password"}},
    {"log_in", {"登录", "登入", "Log in"}},
    // The controls.
    {"controls", {"控制", "控制", "Controls"}},
    {"signal", {"信号", "訊號", "Signal"}},
    {"step_up", {"步进+", "步進+", "Step up"}},                 // panel (Chinese)
    {"step_down", {"步进-", "步進-", "Step down"}},             // panel (Chinese)
    {"save", {"保存到FLASH", "保存到FLASH", "Save to flash"}},  // panel (Chinese)
    {"save_mode", {"保存模式", "保存模式", "Save mode"}},       // panel (Chinese)
    {"mode_vfo", {"单点", "單點", "VFO"}},                      // panel
    {"mode_sweep", {"扫频", "掃頻", "Sweep"}},                  // panel (Chinese)
    {"save_hint",
     {"保存前，需要设置频率、调制、电平、扫频、单点/扫频模式，再按保存按钮！",
      "保存前，需要設定頻率、調製、電平、掃頻、單點/掃頻模式，再按保存按鈕！",
      "Set the frequency, modulation, level, sweep and mode first, then save."}},  // panel
                                                                                   // (Chinese)
    {"save_question",
     {"将设备的当前设置保存到FLASH？设备开机时为{}模式。",
      "將設備的目前設定保存到FLASH？設備開機時為{}模式。",
      "Save the device's settings to its flash? It will start in {} mode."}},
    {"save_confirm", {"保存", "保存", "Save"}},
    {"cancel", {"取消", "取消", "Cancel"}},
    {"sweep", {"扫频", "掃頻", "Sweep"}},
    {"single", {"单次", "單次", "Single sweep"}},            // panel (Chinese)
    {"continuous", {"连续", "連續", "Continuous sweep"}},    // panel (Chinese)
    {"stop_sweep", {"停止扫描", "停止掃描", "Stop sweep"}},  // panel (Chinese)
    {"sweep_progress", {"进度", "進度", "Sweep progress"}},  // panel (Chinese)
    {"no_pass", {"没有扫描", "沒有掃描", "No pass running"}},
    {"pass", {"扫描 {} %", "掃描 {} %", "Pass {} %"}},
    {"repeating_suffix", {"，连续", "，連續", ", repeating"}},
    {"repeating", {"连续扫描", "連續掃描", "Repeating"}},
    // The SCPI of the page's actions, and a recorded session.
    {"scpi_title", {"SCPI 命令", "SCPI 命令", "SCPI"}},
    {"scpi_log", {"本页操作的 SCPI 命令", "本頁操作的 SCPI 命令", "SCPI of this page's actions"}},
    {"ran_ok", {"完成", "完成", "done"}},
    {"record", {"录制", "錄製", "Record"}},
    {"stop_record", {"停止录制", "停止錄製", "Stop"}},
    {"recording", {"正在录制：{} 个操作", "正在錄製：{} 個操作", "Recording: {} actions"}},
    {"recorded", {"已录制 {} 个操作", "已錄製 {} 個操作", "{} actions recorded"}},
    {"download", {"下载：", "下載：", "Download:"}},
    {"as_scpi", {"SCPI 命令行", "SCPI 命令列", "SCPI lines"}},
    {"as_pyvisa", {"Python (pyvisa)", "Python (pyvisa)", "Python (pyvisa)"}},
    {"as_pymeasure", {"Python (PyMeasure)", "Python (PyMeasure)", "Python (PyMeasure)"}},
    // The page's own errors, and the device's events apart from them.
    {"errors_title", {"本页命令的错误", "本頁命令的錯誤", "Errors of this page's commands"}},
    {"errors", {"错误", "錯誤", "Errors"}},
    {"none", {"无", "無", "None"}},
    {"device", {"设备", "設備", "Device"}},
    {"device_events", {"设备事件", "設備事件", "Device events"}},
    {"device_gone", {"设备无法连接：{}", "設備無法連線：{}", "Device unreachable: {}"}},
    {"device_back", {"设备已恢复", "設備已恢復", "Device back"}},
    {"fault_no_acknowledge", {"无应答", "無應答", "no acknowledge"}},
    {"fault_sweep_stalled", {"扫描停滞", "掃描停滯", "sweep stalled"}},
    {"fault_port_busy", {"串口被占用", "串口被佔用", "port busy"}},
    {"fault_no_such_port", {"串口不存在", "串口不存在", "no such port"}},
    {"fault_device_gone", {"设备已断开", "設備已中斷", "device gone"}},
    {"fault_port_failed", {"串口打开失败", "串口開啟失敗", "port failed"}},
    {"fault_port_closed", {"串口已关闭", "串口已關閉", "port closed"}},
    {"fault_network_link_lost", {"网络连接中断", "網路連線中斷", "network link lost"}},
    {"not_an_action", {"不是本页的操作", "不是本頁的操作", "not an action of this page"}},
    {"read_only_log_in",
     {"只读：请用密码登录后再更改设置", "唯讀：請用密碼登入後再變更設定",
      "read-only: log in with the password to change settings"}},
    {"read_only_this_machine",
     {"只读：只有本机可以更改设置", "唯讀：只有本機可以變更設定",
      "read-only: only this machine may change settings"}},
    {"clients_full",
     {"仪器的客户端已满，请稍后再试", "儀器的用戶端已滿，請稍後再試",
      "the instrument serves as many clients as it can; try again later"}},
    {"backlog_full",
     {"等待的操作太多，请重试", "等待的操作太多，請重試", "too many actions waiting; try again"}},
    {"not_connected", {"未连接：{}", "未連線：{}", "not connected: {}"}},
    {"login_refused", {"登录被拒绝", "登入被拒絕", "login refused"}},
    {"identification_unavailable",
     {"无法读取识别信息", "無法讀取識別資訊", "identification unavailable"}},
    // The LXI identification.
    {"instrument", {"仪器", "儀器", "Instrument"}},
    {"manufacturer", {"制造商", "製造商", "Manufacturer"}},
    {"model", {"型号", "型號", "Model"}},
    {"serial_number", {"序列号", "序號", "Serial number"}},
    {"firmware", {"固件", "韌體", "Firmware"}},
    {"description", {"说明", "說明", "Description"}},
    {"lxi_version", {"LXI 版本", "LXI 版本", "LXI version"}},
    {"host_name", {"主机名", "主機名稱", "Host name"}},
    {"ip_address", {"IP 地址", "IP 位址", "IP address"}},
    {"mac_address", {"MAC 地址", "MAC 位址", "MAC address"}},
    {"visa_socket", {"VISA (SOCKET)", "VISA (SOCKET)", "VISA (SOCKET)"}},
    {"visa_instr", {"VISA (INSTR)", "VISA (INSTR)", "VISA (INSTR)"}},
    {"certificate_sha256", {"证书 (SHA-256)", "憑證 (SHA-256)", "Certificate (SHA-256)"}},
    {"this_machine_only", {"仅限本机", "僅限本機", "this machine only"}},
    {"lxi_xml", {"LXI 识别信息 (XML)", "LXI 識別資訊 (XML)", "LXI identification (XML)"}},
    // The list of several generators.
    {"generators", {"TALMIR-880 发生器", "TALMIR-880 產生器", "TALMIR-880 generators"}},
    {"n_generators", {"{} 台射频信号发生器", "{} 台射頻訊號產生器", "{} RF signal generators"}},
    {"rf_out", {"射频输出", "射頻輸出", "RF output"}},
    {"front_panel_of", {"{} 的前面板", "{} 的前面板", "Front panel of {}"}},
    {"server", {"服务器", "伺服器", "Server"}},
    {"lxi_xml_all",
     {"全部发生器的 LXI 识别信息 (XML)", "全部產生器的 LXI 識別資訊 (XML)",
      "LXI identification of all generators (XML)"}},
};

// As the panel's step list writes a step: the largest unit it reaches.
std::string caption(double hz) {
  constexpr std::pair<const char*, double> kUnits[] = {
      {"GHz", 1e9}, {"MHz", 1e6}, {"kHz", 1e3}, {"Hz", 1}};
  for (const auto& [unit, factor] : kUnits) {
    if (hz >= factor) return std::to_string(std::lround(hz / factor)) + unit;
  }
  return std::to_string(std::lround(hz)) + "Hz";
}

std::vector<Step> make_steps() {
  std::vector<Step> out;
  for (const double hz : protocol::kTuningStepsHz) {
    if (hz >= kMinStepHz && hz <= kMaxStepHz) out.push_back({hz, caption(hz)});
  }
  return out;
}

}  // namespace

std::span<const PageText> page_texts() { return kTexts; }

const PageText* page_text(std::string_view key) {
  const auto at = std::find_if(std::begin(kTexts), std::end(kTexts),
                               [key](const PageText& t) { return t.key == key; });
  return at == std::end(kTexts) ? nullptr : at;
}

std::span<const Step> page_steps() {
  static const std::vector<Step> steps = make_steps();
  return steps;
}

}  // namespace talmir880::web
