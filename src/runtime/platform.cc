#include "runtime/platform.h"

#include "runtime/error.h"

namespace kvt {
namespace {
std::shared_ptr<Platform>& Slot() {
  static std::shared_ptr<Platform> current = std::make_shared<RecordingPlatform>();
  return current;
}
}  // namespace

Platform& CurrentPlatform() {
  return *Slot();
}

std::shared_ptr<Platform> CurrentPlatformRef() {
  return Slot();
}

std::shared_ptr<Platform> SetPlatform(std::shared_ptr<Platform> platform) {
  auto previous = Slot();
  Slot() = platform ? std::move(platform) : std::make_shared<RecordingPlatform>();
  return previous;
}

int RecordingPlatform::MsgBox(std::string_view prompt, int buttons, std::string_view title) {
  messages_.push_back(Message{std::string(prompt), buttons, std::string(title)});
  return kMsgBoxAnswerOk;
}

ObjectRef RecordingPlatform::CreateWindow(std::string_view name) {
  throw RuntimeError(ErrorCode::kCannotCreateObject,
                     "window '" + std::string(name) + "': no window system is installed");
}

}  // namespace kvt
