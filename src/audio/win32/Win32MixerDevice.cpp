#include "audio/win32/Win32MixerDevice.h"

#include <string>

#include "base/Log.h"

namespace {

// Logs a failed mixer call with its MMRESULT, once, here where it becomes our false.
bool Succeeded(const char* what, MMRESULT result) {
  if (result != MMSYSERR_NOERROR) {
    LogError(std::string("winmm mixer: ") + what + ": MMRESULT " + std::to_string(result));
  }
  return result == MMSYSERR_NOERROR;
}

// Mixer 0 with MIXER_OBJECTF_MIXER (0): the first mixer device, without opening it.
const HMIXEROBJ kMixerZero = nullptr;

// One control's details over `channels` 32-bit values at `values`. The unsigned (volume) and
// boolean (mute) detail records are both one 32-bit field, so one size serves both.
MIXERCONTROLDETAILS Details(uint32_t controlId, uint32_t channels, void* values) {
  static_assert(sizeof(MIXERCONTROLDETAILS_UNSIGNED) == 4 &&
                sizeof(MIXERCONTROLDETAILS_BOOLEAN) == 4);
  MIXERCONTROLDETAILS details{};
  details.cbStruct = sizeof details;
  details.dwControlID = controlId;
  details.cChannels = channels;
  details.hwndOwner = nullptr;
  details.cMultipleItems = 0;
  details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
  details.paDetails = values;
  return details;
}

}  // namespace

const MixerApi& SystemMixerApi() {
  static const MixerApi api{&mixerGetLineInfoW, &mixerGetLineControlsW, &mixerGetControlDetailsW,
                            &mixerSetControlDetails};
  return api;
}

bool Win32MixerDevice::GetDestinationLine(MixerLineInfo* line) {
  MIXERLINEW info{};
  info.cbStruct = sizeof info;  // zeroed otherwise: destination 0
  if (!Succeeded("mixerGetLineInfoW",
                 api_.getLineInfo(kMixerZero, &info, MIXER_GETLINEINFOF_DESTINATION))) {
    return false;
  }
  line->lineId = info.dwLineID;
  line->controlCount = info.cControls;
  return true;
}

bool Win32MixerDevice::GetLineControls(const MixerLineInfo& line,
                                       std::vector<MixerControlInfo>* controls) {
  if (line.controlCount == 0) return false;
  std::vector<MIXERCONTROLW> records(line.controlCount);
  MIXERLINECONTROLSW request{};
  request.cbStruct = sizeof request;
  request.dwLineID = line.lineId;
  request.cControls = line.controlCount;
  request.cbmxctrl = sizeof(MIXERCONTROLW);
  request.pamxctrl = records.data();
  if (!Succeeded("mixerGetLineControlsW",
                 api_.getLineControls(kMixerZero, &request, MIXER_GETLINECONTROLSF_ALL))) {
    return false;
  }
  // As many as the call reports, never more than the array holds.
  const DWORD reported =
      request.cControls < line.controlCount ? request.cControls : line.controlCount;
  controls->clear();
  for (DWORD i = 0; i < reported; ++i) {
    MixerControlInfo control;
    control.controlId = records[i].dwControlID;
    control.controlType = records[i].dwControlType;
    control.minimum = static_cast<int32_t>(records[i].Bounds.dwMinimum);
    control.maximum = static_cast<int32_t>(records[i].Bounds.dwMaximum);
    controls->push_back(control);
  }
  return true;
}

bool Win32MixerDevice::GetControlValues(uint32_t controlId, uint32_t channels, uint32_t* values) {
  MIXERCONTROLDETAILS details = Details(controlId, channels, values);
  return Succeeded("mixerGetControlDetailsW",
                   api_.getControlDetails(kMixerZero, &details, MIXER_GETCONTROLDETAILSF_VALUE));
}

bool Win32MixerDevice::SetControlValue(uint32_t controlId, uint32_t value) {
  MIXERCONTROLDETAILS details = Details(controlId, 1, &value);
  return Succeeded("mixerSetControlDetails",
                   api_.setControlDetails(kMixerZero, &details, MIXER_SETCONTROLDETAILSF_VALUE));
}
