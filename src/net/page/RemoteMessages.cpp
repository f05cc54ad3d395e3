#include "net/page/RemoteMessages.h"

#include "net/page/JsonText.h"

std::string MediaMessage(const MediaStatus& status) {
  return JsonObject()
      .Add("type", "media")
      .Add("controllable", status.controllable)
      .Add("playing", status.playing)
      .Add("title", status.title)
      .Add("artist", status.artist)
      .Text();
}

std::string OutputsMessage(const OutputList& outputs) {
  std::string devices = "[";
  for (const OutputDevice& device : outputs.devices) {
    if (devices.size() > 1) devices += ',';
    devices.append(JsonObject().Add("id", device.id).Add("name", device.description).Text());
  }
  devices += ']';
  return JsonObject()
      .Add("type", "outputs")
      .Add("canChoose", outputs.canChoose)
      .Add("default", outputs.defaultId)
      .AddRaw("devices", devices)
      .Text();
}

std::optional<RemoteRequest> ParseRemoteRequest(const PageCommand& command) {
  if (command.arguments.size() != 1) return std::nullopt;
  const std::string_view argument = command.arguments[0];
  if (command.word == "media") {
    if (argument == "previous") return MediaCommand::Previous;
    if (argument == "playpause") return MediaCommand::PlayPause;
    if (argument == "next") return MediaCommand::Next;
    return std::nullopt;
  }
  if (command.word == "output" && IsOutputDeviceId(argument)) {
    return OutputChoice{std::string(argument)};
  }
  return std::nullopt;
}
