#pragma once
// IMixerDevice on the multimedia library's mixer functions: destination 0 of mixer device 0,
// addressed as mixer object 0 with flags 0, never opened.

#include <windows.h>
#include <mmsystem.h>

#include "audio/win32/IMixerDevice.h"

// The four mixer calls (winmm's in the program; test doubles in tests).
struct MixerApi {
  MMRESULT(WINAPI* getLineInfo)(HMIXEROBJ mixer, LPMIXERLINEW line, DWORD flags);
  MMRESULT(WINAPI* getLineControls)(HMIXEROBJ mixer, LPMIXERLINECONTROLSW controls, DWORD flags);
  MMRESULT(WINAPI* getControlDetails)(HMIXEROBJ mixer, LPMIXERCONTROLDETAILS details, DWORD flags);
  MMRESULT(WINAPI* setControlDetails)(HMIXEROBJ mixer, LPMIXERCONTROLDETAILS details, DWORD flags);
};
const MixerApi& SystemMixerApi();

class Win32MixerDevice final : public IMixerDevice {
 public:
  explicit Win32MixerDevice(const MixerApi& api = SystemMixerApi()) : api_(api) {}

  bool GetDestinationLine(MixerLineInfo* line) override;
  bool GetLineControls(const MixerLineInfo& line, std::vector<MixerControlInfo>* controls) override;
  bool GetControlValues(uint32_t controlId, uint32_t channels, uint32_t* values) override;
  bool SetControlValue(uint32_t controlId, uint32_t value) override;

 private:
  const MixerApi& api_;
};
