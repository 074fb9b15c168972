// The panel's events from the outside world, and what the user is told when
// the device does not answer or the port fails.
#include "app/form1.hpp"
#include "toolkit/message_box.hpp"

namespace talmir880 {
namespace {

constexpr Phrase kNoConnect = {"没有连机，操作错误！", "沒有連機，操作錯誤！",
                               "no connect,operate error!"};
constexpr Phrase kReceiveError = {"接收数据出错！", "接收數據出錯！", "Receive data error!"};
constexpr Phrase kSendError = {"发送数据出错！", "發送數據出錯！", "Send data error!"};

}  // namespace

void Form1::run(const std::function<void()>& event) {
  // The line is the panel's until the handler has returned, boxes and all.
  struct Held {
    SharedLine& line;
    explicit Held(SharedLine& l) : line(l) { line.panel_event_began(); }
    ~Held() { line.panel_event_ended(); }
  } held{device_line};
  try {
    event();
  } catch (const PortError& fault) {
    // Writes go through the link, which reports its own faults; anything
    // else the port throws is a fault of the line all the same.
    write_failed(fault);
  }
}

void Form1::not_acknowledged() {
  device_line.panel_gave_up();
  notices.tell(kNoConnect);
}

// A fault ends a running sweep before the box opens: the box keeps the event
// loop running, and the next pass would meet the fault again. The receive
// box alone carries the application's own title.
void Form1::receive_failed() {
  sweep.port_fault();
  notices.tell(kReceiveError, kApplicationTitle);
}

void Form1::write_failed(const PortError&) {
  sweep.port_fault();
  notices.tell(kSendError);
}

}  // namespace talmir880
