#include "support/MediaPlayer.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "fakes/Eventually.h"

namespace media {
namespace {
constexpr const char* kMprisPlugin = "/etc/mpv/scripts/mpris.so";

bool OnPath(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

void PutLittleEndian(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::string Chunk(const std::string& tag, std::string body) {
  std::string out = tag;
  PutLittleEndian(out, static_cast<uint32_t>(body.size()), 4);
  if (body.size() % 2 != 0) body.push_back('\0');
  return out + body;
}

// 8 kHz, 8-bit mono silence; the INFO chunk's INAM and IART are what players show.
std::string TaggedWav(const Track& track, int seconds) {
  constexpr uint32_t kRate = 8000;
  std::string format;
  for (auto [value, bytes] : {std::pair{1u, 2}, {1u, 2}, {kRate, 4}, {kRate, 4}, {1u, 2}, {8u, 2}})
    PutLittleEndian(format, value, bytes);
  const std::string info =
      "INFO" + Chunk("INAM", track.title + '\0') + Chunk("IART", track.artist + '\0');
  const std::string body = "WAVE" + Chunk("fmt ", format) + Chunk("LIST", info) +
                           Chunk("data", std::string(kRate * seconds, '\x80'));
  std::string file = "RIFF";
  PutLittleEndian(file, static_cast<uint32_t>(body.size()), 4);
  return file + body;
}
}  // namespace

bool PlayerInstalled() {
  return OnPath("mpv") && OnPath("playerctl") && OnPath("dbus-daemon") &&
         std::filesystem::exists(kMprisPlugin);
}

PrivateSessionBus::PrivateSessionBus() {
  char pattern[] = "/tmp/quavix-bus.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return;
  dir_ = pattern;
  daemon_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--nopidfile",
                               "--print-address=1", "--address=unix:path=" + dir_ + "/bus"});
  address_ = daemon_->ReadLine(std::chrono::seconds(10));
}

PrivateSessionBus::~PrivateSessionBus() {
  daemon_.reset();
  if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

std::vector<std::string> PrivateSessionBus::WriteTracks(const std::vector<Track>& tracks) {
  std::vector<std::string> paths;
  for (size_t i = 0; i < tracks.size(); ++i) {
    paths.push_back(dir_ + "/track" + std::to_string(paths.size()) + "-" +
                    std::to_string(getpid()) + "-" + std::to_string(i) + ".wav");
    std::ofstream(paths.back(), std::ios::binary) << TaggedWav(tracks[i], 60);
  }
  return paths;
}

std::string PrivateSessionBus::Playerctl(const std::string& args) const {
  std::vector<std::string> argv = {"playerctl"};
  for (size_t start = 0; start < args.size();) {
    const size_t end = std::min(args.find(' ', start), args.size());
    argv.push_back(args.substr(start, end - start));
    start = end + 1;
  }
  const std::vector<std::string> environment =
      EnvironmentWith({"DBUS_SESSION_BUS_ADDRESS=" + address_});
  ChildProcess process(argv, &environment);
  std::string output;
  for (std::string line; !(line = process.ReadLine(std::chrono::seconds(5))).empty();) {
    output += (output.empty() ? "" : "\n") + line;
  }
  return process.Wait(std::chrono::seconds(5)) == 0 ? output : "";
}

Mpv::Mpv(const PrivateSessionBus& bus, const std::vector<std::string>& files, bool paused) {
  const bool another = !bus.Playerctl("--list-all").empty();
  std::vector<std::string> argv = {
      "mpv",       "--no-config", std::string("--script=") + kMprisPlugin,
      "--ao=null", "--vo=null",   "--no-terminal",
      "--idle=no"};
  if (paused) argv.push_back("--pause");
  argv.insert(argv.end(), files.begin(), files.end());
  const std::vector<std::string> environment = EnvironmentWith(
      {"DBUS_SESSION_BUS_ADDRESS=" + bus.Address()}, {"DISPLAY", "WAYLAND_DISPLAY"});
  process_ = std::make_unique<ChildProcess>(argv, &environment);
  // The first player on a bus takes the plain name, later ones a name with their pid.
  name_ = another ? "mpv.instance" + std::to_string(Pid()) : "mpv";
}

bool Mpv::AwaitOnBus(const PrivateSessionBus& bus) {
  return Eventually([&] { return !bus.Playerctl("--player=" + name_ + " status").empty(); },
                    std::chrono::seconds(10));
}

void Mpv::Freeze() {
  kill(Pid(), SIGSTOP);
}

void Mpv::Thaw() {
  kill(Pid(), SIGCONT);
}

}  // namespace media
