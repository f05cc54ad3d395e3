#pragma once
// A popup menu built on every press, tracked modally at the cursor.

#include <string>
#include <vector>

enum class MenuCommand { None, Settings, OpenPage, PairPhone, Quit };

struct PopupMenuItem {
  // A column break (or a separator where menus have no columns): no text, no command.
  bool columnBreak = false;
  MenuCommand command = MenuCommand::None;
  std::string text;  // UTF-8, '&' marks the mnemonic
};

class IPopupMenu {
 public:
  virtual ~IPopupMenu() = default;
  // Main thread. Brings the program to the foreground, shows `items` with the top-left corner
  // at the cursor, waits (in a modal loop that keeps running timers) and returns the chosen
  // command, or None when the menu was dismissed or could not be shown.
  virtual MenuCommand Track(const std::vector<PopupMenuItem>& items) = 0;
};
