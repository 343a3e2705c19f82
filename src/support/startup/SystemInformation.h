// Facts about the machine and a once-a-second sample of its processor usage.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>

namespace bw {

using SetThreadExecutionStateFn = EXECUTION_STATE(WINAPI*)(EXECUTION_STATE);
using GetFirmwareEnvironmentVariableAFn = DWORD(WINAPI*)(LPCSTR, LPCSTR, PVOID, DWORD);
using NtSetSystemInformationFn = LONG(NTAPI*)(int, PVOID, ULONG);

extern SYSTEM_INFO SystemInfo;
extern BYTE ProductType;  // 1 workstation, 2 domain controller, 3 server
extern bool LegacyBios;   // the firmware has no UEFI variable service
extern SetThreadExecutionStateFn pSetThreadExecutionState;
extern GetFirmwareEnvironmentVariableAFn pGetFirmwareEnvironmentVariableA;
extern NtSetSystemInformationFn pNtSetSystemInformation;

// Guards the library's machine-wide settings; valid between start-up and finalization.
CRITICAL_SECTION& SystemInfoLock();

inline constexpr int kCpuHistoryLength = 10;

// Percent of processor time used, newest first; written by the sampler thread alone.
extern std::array<std::atomic<int>, kCpuHistoryLength> CpuUsageHistory;
// Completed sampler passes, for whoever wants to see that it runs.
extern std::atomic<std::uint64_t> CpuSamplerPasses;

struct CpuSamplerState {
  std::int64_t previousIdle = 0;  // 100-ns units, all processors together
  std::int64_t previousTime = 0;  // 100-ns units
  int usage = 0;                  // percent
  std::array<int, kCpuHistoryLength> history{};
};

// One pass of the sampler: idle and now in 100-ns units. The first pass records 0.
void CpuSampleStep(CpuSamplerState& state, std::int64_t idle, std::int64_t now, DWORD processors);

void InitSystemInformation();
void FinalizeSystemInformation();

}  // namespace bw
