// The window's control ids, also the handles by which the test driver finds the controls.
#pragma once

namespace bw {

enum ControlId : int {
  kIdLog = 100,
  kIdOptions,
  kIdLabel1,
  kIdIso,
  kIdUsbDrive,
  kIdIsoFile,
  kIdIsoFileButton,
  kIdUsb,
  kIdImageType,
  kIdPanel1,
  kIdProgress,
  kIdStart,
  kIdCancel,  // deliberately not IDCANCEL: Esc must never reach it
};

}  // namespace bw
