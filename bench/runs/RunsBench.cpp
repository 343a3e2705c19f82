// Prints: a whole ISO run through the window against the build script run directly with the
// same stand-ins, and the wizard's handles and memory after one run and after many.
//   wine64 bin/bench_runs.exe [runs]
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "AppDriver.h"
#include "Machine.h"
#include "common/TestSupport.h"

namespace {

using namespace machine;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now;
}

// The handles that a process holds, counted in the system's handle table (Wine reports no
// per-process count).
struct HandleEntry {
  USHORT pid;
  USHORT creatorBackTraceIndex;
  UCHAR objectType;
  UCHAR attributes;
  USHORT handle;
  PVOID object;
  ACCESS_MASK access;
};
struct HandleTable {
  ULONG count;
  HandleEntry entries[1];
};

long CountHandles(DWORD pid) {
  std::vector<unsigned char> buffer(1 << 20);
  ULONG needed = 0;
  NTSTATUS status;
  while ((status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16),
                                            buffer.data(), static_cast<ULONG>(buffer.size()),
                                            &needed)) == static_cast<NTSTATUS>(0xC0000004L)) {
    buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
  }
  if (status != 0) return -1;
  const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
  long count = 0;
  for (ULONG i = 0; i < table->count; ++i) {
    if (table->entries[i].pid == static_cast<USHORT>(pid)) ++count;
  }
  return count;
}

// Committed memory (Wine fills only some of the counters; this one it reads from the kernel).
size_t CommittedBytes(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(process, &counters, sizeof counters);
  return counters.PagefileUsage;
}

// One run from the Start button to idle; false when it did not end with the medium made.
// The buttons' states are read straight from their windows, every millisecond, so the
// measurement adds next to nothing to the run.
// `seconds` gets the time from the click to idle.
bool RunOnce(bwdrive::App& app, const std::string& iso, double* seconds = nullptr) {
  DeleteFileA(iso.c_str());
  const HWND start = app.Control(bw::kIdStart);
  const HWND cancel = app.Control(bw::kIdCancel);
  const LARGE_INTEGER clicked = Now();
  app.Click(start);
  if (!bwdrive::WaitFor([&] { return !IsWindowEnabled(start); }, kTimeout, 1)) return false;
  if (!bwdrive::WaitFor([&] { return IsWindowEnabled(start) && !IsWindowEnabled(cancel); },
                        kRunTimeout, 1)) {
    return false;
  }
  if (seconds) *seconds = Seconds(clicked, Now());
  return bwtest::FileExists(iso);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  AcceptAgreement();
  StageWorker();
  StageKit();
  StageConsoleTools();
  bwtest::ScratchDir out("bwbench");
  const std::string iso = out / "Bench.iso";

  // The script alone, as the window starts it.
  const std::string script = bwtest::Quote(WorkDir() + "\\bwrs.bat") + " ISO " +
                             bwtest::Quote(iso) + " " + bwtest::kStandinMedium;
  bwdrive::App app;
  if (!app.Launch(WizardPath(), "C:\\", kTimeout, bwtest::kStandinSwitch)) {
    std::fprintf(stderr, "no window\n");
    return 1;
  }
  SendMessageA(app.Control(bw::kIdIsoFile), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(iso.c_str()));
  if (!RunOnce(app, iso)) {  // also writes the script into the working folder
    std::fprintf(stderr, "the first run failed:\n%s\n", app.Log().c_str());
    return 1;
  }
  std::vector<double> window, direct;
  for (int i = 0; i < 7; ++i) {
    double seconds = 0;
    if (!RunOnce(app, iso, &seconds)) return 1;
    window.push_back(seconds);
    DeleteFileA(iso.c_str());
    const LARGE_INTEGER start = Now();
    const auto result = bwtest::RunProcess(script);
    direct.push_back(Seconds(start, Now()));
    if (result.exitCode != 0) {
      std::fprintf(stderr, "the script failed:\n%s\n", result.output.c_str());
      return 1;
    }
  }
  std::printf(
      "| whole ISO run, window vs script alone (median of 7) | %.0f ms vs %.0f ms, "
      "ratio %.2f | within 5%% |\n",
      Median(window) * 1000, Median(direct) * 1000, Median(window) / Median(direct));

  const long handlesAfterOne = CountHandles(app.ProcessId());
  const size_t memoryAfterOne = CommittedBytes(app.Process());
  for (int i = 1; i < runs; ++i) {
    if (!RunOnce(app, iso)) {
      std::fprintf(stderr, "run %d failed:\n%s\n", i + 1, app.Log().c_str());
      return 1;
    }
  }
  const long handlesAfterMany = CountHandles(app.ProcessId());
  const size_t memoryAfterMany = CommittedBytes(app.Process());
  std::printf("| wizard's handles after 1 + 7 runs vs after %d more | %ld vs %ld | no growth |\n",
              runs - 1, handlesAfterOne, handlesAfterMany);
  std::printf(
      "| wizard's committed memory after 1 + 7 runs vs after %d more | %.1f MB vs %.1f MB | "
      "no growth |\n",
      runs - 1, static_cast<double>(memoryAfterOne) / 1048576.0,
      static_cast<double>(memoryAfterMany) / 1048576.0);
  app.Close();
  app.WaitExit(kTimeout);
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Bootwright");
  return 0;
}
