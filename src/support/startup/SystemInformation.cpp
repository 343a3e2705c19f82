#include "support/startup/SystemInformation.h"

#include <winternl.h>

#include <cmath>
#include <cstring>

#include "support/startup/ModuleEntries.h"

namespace bw {

SYSTEM_INFO SystemInfo{};
BYTE ProductType = 0;
bool LegacyBios = true;
SetThreadExecutionStateFn pSetThreadExecutionState = nullptr;
GetFirmwareEnvironmentVariableAFn pGetFirmwareEnvironmentVariableA = nullptr;
NtSetSystemInformationFn pNtSetSystemInformation = nullptr;
std::array<std::atomic<int>, kCpuHistoryLength> CpuUsageHistory{};
std::atomic<std::uint64_t> CpuSamplerPasses{0};

namespace {

CRITICAL_SECTION lock;
bool lockInitialized = false;

using NtQuerySystemInformationFn = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);

bool QueryIdleTime(NtQuerySystemInformationFn query, std::int64_t& idle) {
  if (!query) return false;
  // System performance information; it starts with the idle time of all processors.
  alignas(8) unsigned char buffer[1032] = {};
  if (query(SystemPerformanceInformation, buffer, sizeof buffer, nullptr) != 0) {
    return false;
  }
  static_assert(sizeof idle == 8);
  std::memcpy(&idle, buffer, sizeof idle);
  return true;
}

// Runs until the process ends; nobody stops or waits for it.
DWORD WINAPI CpuSamplerThread(LPVOID) {
  try {
    const auto query =
        LoadedEntry<NtQuerySystemInformationFn>("ntdll.dll", "NtQuerySystemInformation");
    CpuSamplerState state;
    for (;;) {
      std::int64_t idle = 0;
      if (QueryIdleTime(query, idle)) {
        const auto now = static_cast<std::int64_t>(::GetTickCount64()) * 10000;
        CpuSampleStep(state, idle, now, SystemInfo.dwNumberOfProcessors);
        for (int i = 0; i < kCpuHistoryLength; ++i) {
          CpuUsageHistory[i].store(state.history[i], std::memory_order_relaxed);
        }
        CpuSamplerPasses.fetch_add(1, std::memory_order_relaxed);
      }
      ::Sleep(1000);
    }
  } catch (...) {
  }
  return 0;
}

}  // namespace

CRITICAL_SECTION& SystemInfoLock() { return lock; }

void CpuSampleStep(CpuSamplerState& state, std::int64_t idle, std::int64_t now, DWORD processors) {
  if (state.previousIdle != 0) {
    const double share = static_cast<double>(idle - state.previousIdle) /
                         static_cast<double>(now - state.previousTime + 1) * 100.0 /
                         static_cast<double>(processors ? processors : 1);
    double usage = 100.0 - share + 0.5;
    // Clamped before the conversion: a value out of int's range has no defined conversion.
    if (std::isnan(usage)) usage = 0.0;
    usage = std::fmin(std::fmax(usage, -1.0), 101.0);
    state.usage = static_cast<int>(std::trunc(usage));
  }
  state.previousIdle = idle;
  state.previousTime = now;
  if (state.usage < 0) state.usage = 0;
  if (state.usage > 100) state.usage = 100;
  for (int i = kCpuHistoryLength - 1; i > 0; --i) state.history[i] = state.history[i - 1];
  state.history[0] = state.usage;
}

void InitSystemInformation() {
  ::InitializeCriticalSection(&lock);
  lockInitialized = true;
  ::GetSystemInfo(&SystemInfo);

  OSVERSIONINFOEXA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version))) {
    ProductType = version.wProductType;
  }

  pSetThreadExecutionState =
      LoadedEntry<SetThreadExecutionStateFn>("kernel32.dll", "SetThreadExecutionState");

  // The sampler lives as long as the process; its handle is not needed, so it is closed now.
  DWORD threadId = 0;
  if (HANDLE thread = ::CreateThread(nullptr, 0, CpuSamplerThread, nullptr, 0, &threadId)) {
    ::CloseHandle(thread);
  }

  pGetFirmwareEnvironmentVariableA = LoadedEntry<GetFirmwareEnvironmentVariableAFn>(
      "kernel32.dll", "GetFirmwareEnvironmentVariableA");
  if (pGetFirmwareEnvironmentVariableA) {
    // Legacy firmware refuses the variable service altogether.
    ::SetLastError(ERROR_SUCCESS);
    pGetFirmwareEnvironmentVariableA("", "{00000000-0000-0000-0000-000000000000}", nullptr, 0);
    LegacyBios = ::GetLastError() == ERROR_INVALID_FUNCTION;
  }

  pNtSetSystemInformation =
      LoadedEntry<NtSetSystemInformationFn>("NTDLL.DLL", "NtSetSystemInformation");
}

void FinalizeSystemInformation() {
  if (lockInitialized) {
    ::DeleteCriticalSection(&lock);
    lockInitialized = false;
  }
}

}  // namespace bw
