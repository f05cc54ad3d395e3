#include "media/win32/MediaKeys.h"

#include <memory>
#include <string>

#include "base/Log.h"
#include "base/win32/SystemErrorText.h"

namespace {
WORD KeyOf(MediaCommand command) {
  switch (command) {
    case MediaCommand::Previous:
      return VK_MEDIA_PREV_TRACK;
    case MediaCommand::Next:
      return VK_MEDIA_NEXT_TRACK;
    default:
      return VK_MEDIA_PLAY_PAUSE;
  }
}
}  // namespace

bool MediaKeys::Send(MediaCommand command) {
  INPUT presses[2] = {};
  for (INPUT& press : presses) {
    press.type = INPUT_KEYBOARD;
    press.ki.wVk = KeyOf(command);
  }
  presses[1].ki.dwFlags = KEYEVENTF_KEYUP;
  // Both in one call, so no other input can fall between the press and the release.
  const UINT sent = sendInput_(2, presses, sizeof(INPUT));
  if (sent == 2) return true;
  LogError("media keys: SendInput took " + std::to_string(sent) +
           " of 2: " + WindowsErrorText(GetLastError()));
  return false;
}

std::unique_ptr<IMediaControl> CreateMediaControl() {
  return std::make_unique<MediaKeys>();
}
