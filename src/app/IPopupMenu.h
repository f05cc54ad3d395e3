#pragma once
// A popup menu built on every press, tracked modally at the cursor.

#include <cstdint>
#include <string>
#include <vector>

struct PopupMenuItem {
  // A column break: starts a new column; it has no text and no id.
  bool columnBreak = false;
  uint32_t id = 0;
  std::string text;  // UTF-8, '&' marks the mnemonic
};

class IPopupMenu {
 public:
  virtual ~IPopupMenu() = default;
  // Main thread. Brings the hidden window to the foreground, shows `items` with the top-left
  // corner at the cursor, waits (running a modal loop that keeps dispatching timers) and returns
  // the chosen id, or 0 when the menu was dismissed or could not be shown.
  virtual uint32_t Track(const std::vector<PopupMenuItem>& items) = 0;
};
