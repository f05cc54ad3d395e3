#include <gtest/gtest.h>

#include <optional>

#include "RunningShell.h"

namespace {

using ListeningPortTest = RunningShell;

TEST_F(ListeningPortTest, TheServerIsAnnouncedWhereItListensAndNowhereElse) {
  EXPECT_EQ(shell.announcer.announced, 17495);
  ChooseSettings({"8080"});
  EXPECT_EQ(shell.announcer.announced, 8080);

  // A move that fails and falls back is announced on the port it fell back to; one that
  // cannot fall back is withdrawn, since nobody answers.
  shell.server.busyPorts[8081] = true;
  shell.server.probeSaysFree = true;
  ChooseSettings({"8081"});
  EXPECT_EQ(shell.announcer.announced, 8080);
  shell.server.busyPorts[8080] = true;
  ChooseSettings({"8081"});
  EXPECT_EQ(shell.announcer.announced, std::nullopt);

  shell.server.busyPorts.clear();
  ChooseSettings({"8082"});
  EXPECT_EQ(shell.announcer.announced, 8082);
  app.tray.OnQuitRequested();
  EXPECT_EQ(shell.announcer.announced, std::nullopt);
}

TEST_F(ListeningPortTest, AnUnbindablePortIsRefusedBeforeAnyoneIsDisconnected) {
  shell.server.busyPorts[8080] = true;
  ChooseSettings({"8080"});
  EXPECT_FALSE(shell.server.clientsDropped);
  EXPECT_EQ(shell.server.Serving(), 17495);
  EXPECT_EQ(shell.store.writes, 0);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Couldn't bind and listen to network port"});
  EXPECT_EQ(shell.Err(), "quavix-server: Couldn't bind and listen to network port 8080\n");
}

TEST_F(ListeningPortTest, APortTakenAfterTheProbeFallsBackToTheRunningPort) {
  shell.store.SetPort(9000);  // not where the server runs
  shell.server.busyPorts[8080] = true;
  shell.server.probeSaysFree = true;
  ChooseSettings({"8080"});
  EXPECT_EQ(shell.server.Serving(), 17495);
  EXPECT_EQ(app.listening.Running(), 17495);
  EXPECT_EQ(shell.store.values["port"], "9000");
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Couldn't bind and listen to network port"});
}

TEST_F(ListeningPortTest, AFailedFallbackIsToldAndTheNextMoveStillWorks) {
  shell.server.probeSaysFree = true;
  shell.server.busyPorts[8080] = true;
  shell.server.busyPorts[17495] = true;  // taken by someone else once the server let it go
  ChooseSettings({"8080"});
  EXPECT_EQ(shell.server.Serving(), std::nullopt);
  EXPECT_EQ(app.listening.Running(), std::nullopt);
  EXPECT_EQ(Boxes(),
            (std::vector<std::string>{"Couldn't bind and listen to network port",
                                      "Couldn't listen again on the previous network port"}));
  EXPECT_NE(shell.Err().find("previous network port 17495\n"), std::string::npos);
  EXPECT_EQ(shell.tray.toolTip, "Quavix Server - not listening");

  ChooseSettings({"8081"});
  EXPECT_EQ(shell.server.Serving(), 8081);
  EXPECT_EQ(shell.store.values["port"], "8081");
}

TEST_F(ListeningPortTest, AnAnnouncedPortChangeMovesToTheStoredPortByTheSameRules) {
  app.tray.OnPortChangeAnnounced();  // stored equals running
  EXPECT_FALSE(shell.server.clientsDropped);

  shell.store.SetPort(8080);
  app.tray.OnPortChangeAnnounced();
  EXPECT_EQ(shell.server.Serving(), 8080);
  EXPECT_EQ(shell.store.writes, 0);

  shell.store.SetPort(8081);
  shell.server.busyPorts[8081] = true;
  app.tray.OnPortChangeAnnounced();
  EXPECT_EQ(shell.server.Serving(), 8080);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Couldn't bind and listen to network port"});
}

TEST_F(ListeningPortTest, AnAnnouncedPortThatIsRefusedLeavesTheRunningPortStored) {
  shell.store.SetPort(8081);  // --set-port stored it and told us
  shell.server.busyPorts[8081] = true;
  app.tray.OnPortChangeAnnounced();
  EXPECT_EQ(shell.server.Serving(), 17495);
  EXPECT_EQ(shell.store.values["port"], "17495") << "the next start must not fail on 8081";
}

}  // namespace

TEST_F(ListeningPortTest, APortRequestMovesOrSaysWhyNotAndLeavesTheRunningPortStored) {
  shell.server.pagePort = 17496;
  struct Case {
    const char* request;
    const char* reply;
    std::optional<uint16_t> serving;
    const char* stored;
  };
  const Case cases[] = {
      {"port 8080",
       "ok Quavix Server listening on port 8080: 192.168.1.20:8080, control page "
       "http://192.168.1.20:17496/",
       8080, "8080"},
      {"port 8080",
       "ok Quavix Server listening on port 8080: 192.168.1.20:8080, control page "
       "http://192.168.1.20:17496/",
       8080, "8080"},
      {"port 8081", "error the server stays on port 8080 (port 8081 is in use by another program)",
       8080, "8080"},
      {"port 17496",
       "error the server stays on port 8080 (port 17496 is the control page's own "
       "port)",
       8080, "8080"},
      // Neither is a move: the store is left as it is.
      {"port 0", "error bad port '0' (a whole number from 1 to 65535)", 8080, "9000"},
      {"move 9000", "error unknown request 'move'", 8080, "9000"},
  };
  shell.server.busyPorts[8081] = true;
  for (const Case& c : cases) {
    shell.store.SetPort(9000);  // edited meanwhile: the running port is stored again
    EXPECT_EQ(app.requests.Answer(c.request), c.reply) << c.request;
    EXPECT_EQ(shell.server.Serving(), c.serving) << c.request;
    EXPECT_EQ(shell.store.values["port"], c.stored) << c.request;
  }
  EXPECT_TRUE(Boxes().empty()) << "the asker is told, not the desktop";

  // A move whose way back fails too leaves no port to store, and says so.
  shell.server.probeSaysFree = true;
  shell.server.busyPorts[8080] = true;
  EXPECT_EQ(app.requests.Answer("port 8081"),
            "error port 8081 could not be bound, and the server could not listen again on port "
            "8080: it listens on no port now");
  EXPECT_EQ(shell.server.Serving(), std::nullopt);
}

TEST(ListeningLine, SaysWhereTheServerListensWithAServedPageAddressFirst) {
  struct Case {
    const char* listen;
    std::string line;  // after "listening on port 17495"
  };
  const Case cases[] = {
      {"",
       ": 192.168.1.20:17495, [fd00::5]:17495, 203.0.113.1:17495, control page "
       "http://192.168.1.20:17496/"},
      {"0.0.0.0",
       ": 192.168.1.20:17495, 203.0.113.1:17495, control page "
       "http://192.168.1.20:17496/"},
      {"::", ": [fd00::5]:17495, control page http://[fd00::5]:17496/"},
      {"203.0.113.1, 127.0.0.1",
       ": 127.0.0.1:17495, 203.0.113.1:17495, control page "
       "http://127.0.0.1:17496/"},
  };
  for (const Case& c : cases) {
    FakeShell shell;
    shell.localAddresses = {*ParseIpAddress("203.0.113.1"), *ParseIpAddress("192.168.1.20"),
                            *ParseIpAddress("fd00::5")};
    shell.server.pagePort = 17496;
    shell.store.values = {{"port", "17495"}, {"listen", c.listen}};
    Shell app(shell.services);
    std::string problem;
    ASSERT_TRUE(app.settings.Reload(&problem));
    shell.server.BindAndListen(17495);
    shell.server.Start();
    app.listening.Started(17495);
    EXPECT_EQ(shell.Out(), "Quavix Server listening on port 17495" + c.line + "\n") << c.listen;

    // An edit of the file meanwhile changes nothing until the next start: after a move the
    // line still says where the server listens.
    shell.store.values["listen"] = "10.9.9.9";
    std::string moved = c.line;
    for (size_t at; (at = moved.find("17495")) != std::string::npos;) moved.replace(at, 5, "8080");
    EXPECT_EQ(app.requests.Answer("port 8080"), "ok Quavix Server listening on port 8080" + moved)
        << c.listen;
  }
}
