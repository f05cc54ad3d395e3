#pragma once
// The shell's objects on fakes, with the server running on the stored 17495 as after start-up.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/Shell.h"
#include "fakes/FakeShellPlatform.h"

class RunningShell : public ::testing::Test {
 protected:
  void SetUp() override {
    shell.store.SetPort(17495);
    std::string problem;
    ASSERT_TRUE(app.settings.Reload(&problem)) << problem;
    shell.server.BindAndListen(17495);
    shell.server.Start();
    app.listening.Started(17495);
    app.tray.Show();
  }
  // The user opens the dialog and offers `typed` to OK in turn.
  void ChooseSettings(std::vector<std::string> typed) {
    shell.dialog.typed = std::move(typed);
    app.tray.OnSettingsRequested();
  }
  // The texts of the boxes shown so far.
  std::vector<std::string> Boxes() {
    std::vector<std::string> texts;
    for (const auto& [text, title] : shell.messageBox.shown) texts.push_back(text);
    return texts;
  }

  FakeShell shell;
  Shell app{shell.services};
};
