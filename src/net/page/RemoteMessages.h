#pragma once
// The page's remote control on its WebSocket: what is playing and which outputs there are, sent
// to the page as JSON objects, and the page's two requests, checked strictly:
//   media previous|playpause|next
//   output DEVICE_ID
// A page may ask for nothing else. Any thread; no state.

#include <optional>
#include <string>
#include <variant>

#include "audio/IOutputDevices.h"
#include "media/IMediaControl.h"
#include "net/page/PageCommand.h"

// {"type":"media","controllable":true,"playing":true,"title":"...","artist":"..."}
std::string MediaMessage(const MediaStatus& status);
// {"type":"outputs","canChoose":true,"default":"ID","devices":[{"id":"ID","name":"..."},...]}
std::string OutputsMessage(const OutputList& outputs);

// An output chosen on the page: the device's id, which passed IsOutputDeviceId.
struct OutputChoice {
  std::string id;
};
using RemoteRequest = std::variant<MediaCommand, OutputChoice>;

// The request `command` makes, if it is one of the two above with exactly its argument; empty
// for any other word, another argument count, an unknown media command or an id that is not
// one.
std::optional<RemoteRequest> ParseRemoteRequest(const PageCommand& command);
