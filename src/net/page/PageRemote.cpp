#include "net/page/PageRemote.h"

#include <utility>
#include <variant>

#include "base/Log.h"
#include "net/page/RemoteMessages.h"

bool RequestRate::Allow(uint32_t nowMs) {
  if (!started_ || nowMs - windowStart_ >= kWindowMs) {
    started_ = true;
    windowStart_ = nowMs;
    used_ = 0;
  }
  if (used_ == kPerWindow) return false;
  ++used_;
  return true;
}

void PageRemote::SetMedia(IMediaControl* media) {
  media_ = media;
  if (media == nullptr) {
    std::lock_guard lock(mutex_);
    latest_[static_cast<size_t>(Topic::kMedia)].reset();
    return;
  }
  MediaChanged(media->Status());
}

void PageRemote::SetOutputs(IOutputDevices* outputs) {
  outputs_ = outputs;
  if (outputs == nullptr) {
    std::lock_guard lock(mutex_);
    latest_[static_cast<size_t>(Topic::kOutputs)].reset();
    return;
  }
  // A list read here may be older than one a change reports meanwhile, which then wins.
  uint64_t reports = 0;
  {
    std::lock_guard lock(mutex_);
    reports = outputsReports_;
  }
  const std::string json = OutputsMessage(outputs->List());
  std::lock_guard lock(mutex_);
  if (reports == outputsReports_) PublishLocked(Topic::kOutputs, json);
}

void PageRemote::MediaChanged(const MediaStatus& status) {
  Publish(Topic::kMedia, MediaMessage(status));
}

void PageRemote::OutputsChanged(const OutputList& outputs) {
  std::string json = OutputsMessage(outputs);
  std::lock_guard lock(mutex_);
  ++outputsReports_;
  PublishLocked(Topic::kOutputs, std::move(json));
}

void PageRemote::Publish(Topic topic, std::string json) {
  std::lock_guard lock(mutex_);
  PublishLocked(topic, std::move(json));
}

void PageRemote::PublishLocked(Topic topic, std::string json) {
  std::optional<std::string>& latest = latest_[static_cast<size_t>(topic)];
  if (latest == json) return;
  latest = std::move(json);
  listeners_.CallLocked(topic, *latest);
}

PageRemote::Follower PageRemote::Follow(Listener listener) {
  std::lock_guard lock(mutex_);
  for (size_t topic = 0; topic < kTopics; ++topic) {
    if (latest_[topic]) listener(static_cast<Topic>(topic), *latest_[topic]);
  }
  return listeners_.AddLocked(std::move(listener));
}

bool PageRemote::Take(const PageCommand& command, RequestRate& rate, uint32_t nowMs) {
  const std::optional<RemoteRequest> request = ParseRemoteRequest(command);
  if (!request) return false;
  if (const auto* media = std::get_if<MediaCommand>(&*request)) {
    if (media_ == nullptr) return false;  // the page was never offered a player
    if (rate.Allow(nowMs)) media_->Send(*media);
    return true;
  }
  const auto& output = std::get<OutputChoice>(*request);
  if (outputs_ == nullptr) return false;  // the page was never offered a list
  if (rate.Allow(nowMs) && !outputs_->MakeDefault(output.id) && LogVerbose()) {
    LogNote("the page asked for an output that cannot be chosen now: " + output.id);
  }
  return true;
}
