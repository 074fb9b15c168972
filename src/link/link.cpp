#include "link/link.hpp"

#include <exception>
#include <string>

namespace talmir880 {
namespace {

constexpr Phrase kNoConnect = {"没有连机，操作错误！", "沒有連機，操作錯誤！",
                               "no connect,operate error!"};
constexpr Phrase kReceiveError = {"接收数据出错！", "接收數據出錯！", "Receive data error!"};

}  // namespace

Link::Link(SerialPort& MSComm1, Timer& Timer1, const Notices& notices)
    : MSComm1_(MSComm1), Timer1_(Timer1), notices_(notices) {}

void Link::MSComm1_OnComm() {
  std::string chunk;
  try {
    chunk = MSComm1_.Input();
  } catch (const std::exception&) {
    notices_.tell(kReceiveError, kApplicationTitle);
    return;
  }
  if (receive_data.append(chunk)) {
    Timer1_.set_Enabled(false);
    receive_data.clear();
  }
}

void Link::Timer1_Timer() {
  // Disarm before the box: it keeps the event loop running.
  Timer1_.set_Enabled(false);
  notices_.tell(kNoConnect);
}

}  // namespace talmir880
