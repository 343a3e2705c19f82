// The prefix as a machine that the wizard runs on: its working folder, the kit and worker
// that earlier runs left there, the installed product's key, the console tools the build
// script copies. Shared by the window tests that make whole runs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "AppDriver.h"
#include "common/TestSupport.h"

namespace machine {

constexpr DWORD kTimeout = 20000;
constexpr DWORD kRunTimeout = 120000;
constexpr const char* kStoreKey = "Software\\Bootwright\\TForm1";
constexpr const char* kUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessel Backup System_is1";

std::string WizardPath();           // the product
std::string WizardUnderTestPath();  // the same window, downloading from BW_TEST_*_URL
std::string Standin(const std::string& name);
std::string WorkDir();
std::string Kit();                    // the kit's root below the working folder
std::string DeploymentToolsMarker();  // DandISetEnv.bat
std::string WinPEMarker();            // copype.cmd
std::string Worker();                 // the staged worker

// Why a start gave no window: a program that ended at once found no working display.
std::string NoWindow(const bwdrive::App& app);

// The set-up steps assert their outcome: call them in ASSERT_NO_FATAL_FAILURE.
void SetString(HKEY root, const std::string& path, const std::string& name,
               const std::string& value);

// Straight to the options page on the next start.
void AcceptAgreement();
// A worker staged by an earlier run (the stand-in, or another of its versions).
void StageWorker(const std::string& source = Standin("TXBWorker.exe"));
// Both parts of the kit installed by an earlier run.
void StageKit();
// timeout and choice where the build script copies them from.
void StageConsoleTools();
// A cancelled script leaves its running child behind (only the script is ended); a stray
// DISM of the installed kit must not reach into the next run's mount.
void EndStrayDism();

// Starts the wizard (with the arguments, after the switch for the stand-ins' medium), types
// the ISO path and presses Start; false (with the reason in `why`) when no window came.
bool StartIsoRun(bwdrive::App& app, const std::string& exePath, const std::string& iso,
                 std::string& why, const std::string& arguments = {});

// The log's text split at its line breaks.
std::vector<std::string> Lines(const std::string& log);

// The downloads point at the local server's stand-ins (BW_TEST_*_URL), the product
// installer installs the worker stand-in, and the machine has no installed product.
void ServeDownloads(bwtest::ScopedEnv& env, const std::string& base);

// Start and the options enabled, Cancel disabled, the bar at its minimum.
bool Idle(const bwdrive::App& app, std::string& why);

}  // namespace machine
