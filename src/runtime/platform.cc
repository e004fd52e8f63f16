#include "runtime/platform.h"

#include <mutex>
#include <utility>

#include "runtime/error.h"

namespace kvt {
namespace {

// The process's platform, replaced while windows are installed or taken down; read from any
// thread (a worker posting its answer).
struct ProcessPlatform {
  std::mutex lock;
  std::shared_ptr<Platform> platform = std::make_shared<RecordingPlatform>();
};

ProcessPlatform& Process() {
  static ProcessPlatform process;
  return process;
}

// The session this thread works for now; none outside a PlatformScope.
thread_local std::shared_ptr<Platform> session_platform;

}  // namespace

Platform& CurrentPlatform() {
  if (session_platform) return *session_platform;
  ProcessPlatform& p = Process();
  std::lock_guard hold(p.lock);
  return *p.platform;
}

std::shared_ptr<Platform> CurrentPlatformRef() {
  if (session_platform) return session_platform;
  ProcessPlatform& p = Process();
  std::lock_guard hold(p.lock);
  return p.platform;
}

std::shared_ptr<Platform> SetPlatform(std::shared_ptr<Platform> platform) {
  if (!platform) platform = std::make_shared<RecordingPlatform>();
  ProcessPlatform& p = Process();
  std::lock_guard hold(p.lock);
  std::swap(p.platform, platform);
  return platform;
}

PlatformScope::PlatformScope(std::shared_ptr<Platform> platform) : previous_(session_platform) {
  if (platform) session_platform = std::move(platform);
}

PlatformScope::~PlatformScope() {
  session_platform = std::move(previous_);
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
