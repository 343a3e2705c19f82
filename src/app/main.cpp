// The program's entry: start-up services, the wizard window, the message loop.
#include <windows.h>

#include <cstdlib>
#include <exception>
#include <string>

#include "app/Wizard.h"
#include "app/uMain.h"
#include "support/startup/ModuleEntries.h"
#include "support/startup/Startup.h"

// The runtime's default terminate handler prints the demangled name of the exception's type,
// which links the whole demangler into the program. Nothing can escape WinMain; should it
// happen anyway, ending at once is all that is left.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace {

void ShowFatal(const char* message) {
  MessageBoxA(nullptr, message, bw::ApplicationTitle().c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  bw::LimitDllSearchToSystem();
  try {
    bw::StartupSections sections;
    return bw::RunWizard(instance, bw::FixedDownloadSources(), commandLine);
  } catch (const std::exception& e) {
    ShowFatal(e.what());
    return 1;
  }
}
