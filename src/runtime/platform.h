// The platform-services seam: the few things the component asks of the desktop itself
// (a message box, a Tab keystroke to the active window, a new window). A window system installs
// its own Platform; the default records what it was asked and shows nothing.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/object.h"

namespace kvt {

/// Buttons and answers of a message box, numbered as the platform numbers them.
inline constexpr int kMsgBoxOkOnly = 0;
inline constexpr int kMsgBoxOkCancel = 1;
inline constexpr int kMsgBoxYesNoCancel = 3;
/// Added to the buttons: the second or third button is the default (Enter), not the first.
inline constexpr int kMsgBoxDefaultButton2 = 256;
inline constexpr int kMsgBoxDefaultButton3 = 512;
/// The buttons of a message box without the default-button flags.
constexpr int MsgBoxButtons(int buttons) {
  return buttons & 0xF;
}
inline constexpr int kMsgBoxAnswerOk = 1;
inline constexpr int kMsgBoxAnswerCancel = 2;
inline constexpr int kMsgBoxAnswerYes = 6;
inline constexpr int kMsgBoxAnswerNo = 7;

/// A message box as a platform was asked to show it.
struct ShownMessage {
  std::string prompt;
  int buttons;
  std::string title;
  std::string details = {};  // the original text of an error, shown on request
};

class Platform {
 public:
  virtual ~Platform() = default;
  /// Shows a modal message with its buttons (OK; OK and Cancel; Yes, No and Cancel); returns
  /// the answer (kMsgBoxAnswerOk for an OK-only box).
  /// An empty title means the application's default title.
  virtual int MsgBox(std::string_view prompt, int buttons, std::string_view title) = 0;
  /// Sends one Tab keystroke to the active window.
  virtual void SendTab() = 0;
  /// Creates a new, hidden top-level window (a form object) named `name`.
  virtual ObjectRef CreateWindow(std::string_view name) = 0;
  /// True when Post hands work to a loop of the window system's own; false (the default)
  /// means nothing would run later by itself, so a caller does its work at once instead.
  virtual bool PostsWork() const { return false; }
  /// Runs `work` on the windows' thread soon, after what runs there now; callable from any
  /// thread, and only called when PostsWork. The default runs it at once.
  virtual void Post(std::function<void()> work) { work(); }
  /// False while nobody looks at the windows (a batch of documents entered by the program):
  /// what only helps a person, such as suggestions while typing, is not looked up then.
  /// Each session has its own: a batch entered in one leaves another's suggestions on.
  bool Attended() const { return attended_; }
  void SetAttended(bool attended) { attended_ = attended; }

 private:
  std::atomic<bool> attended_ = true;
};

/// The platform in use: the session's this thread works for (PlatformScope), otherwise the
/// process's, which is the recording default until a window system installs another.
Platform& CurrentPlatform();
/// The platform in use, shared: what a worker thread posts its answer to.
std::shared_ptr<Platform> CurrentPlatformRef();
/// Installs the process's platform (null puts the recording default back); returns the
/// previous one. A session's own platform is set with PlatformScope instead.
std::shared_ptr<Platform> SetPlatform(std::shared_ptr<Platform> platform);

/// Makes `platform` the one this thread reaches for the life of this object (null: the one
/// in use stays). A host opens one around each message of a session it handles; scopes nest.
class PlatformScope {
 public:
  explicit PlatformScope(std::shared_ptr<Platform> platform);
  ~PlatformScope();
  PlatformScope(const PlatformScope&) = delete;
  PlatformScope& operator=(const PlatformScope&) = delete;

 private:
  std::shared_ptr<Platform> previous_;
};

/// The default platform: records message boxes and keystrokes; cannot create windows.
class RecordingPlatform : public Platform {
 public:
  using Message = ShownMessage;

  int MsgBox(std::string_view prompt, int buttons, std::string_view title) override;
  void SendTab() override { ++tabs_sent_; }
  /// Raises 429: there is no window system behind this platform.
  ObjectRef CreateWindow(std::string_view name) override;

  const std::vector<Message>& Messages() const { return messages_; }
  int TabsSent() const { return tabs_sent_; }

 private:
  std::vector<Message> messages_;
  int tabs_sent_ = 0;
};

/// Installs a platform for the life of this object (tests use it).
class ScopedPlatform {
 public:
  explicit ScopedPlatform(std::shared_ptr<Platform> p) : previous_(SetPlatform(std::move(p))) {}
  ~ScopedPlatform() { SetPlatform(previous_); }
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  std::shared_ptr<Platform> previous_;
};

}  // namespace kvt
