// The program's entry: start-up services, the wizard window, the message loop.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <exception>
#include <optional>
#include <string>

#include "app/uMain.h"
#include "support/Handles.h"
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

int RunWizard(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS |
                                                        ICC_USEREX_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  bw::UniqueModule richEdit(LoadLibraryA("riched20.dll"));
  int exitCode = 0;
  {
    bw::TForm1 form;
    form.Create(instance);
    form.Show();
    MSG msg;
    BOOL got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
      if (got == -1) break;
      if (form.Handle() && IsDialogMessageA(form.Handle(), &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    exitCode = got == -1 ? 1 : static_cast<int>(msg.wParam);
  }
  return exitCode;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  try {
    bw::StartupSections sections;
    return RunWizard(instance);
  } catch (const std::exception& e) {
    ShowFatal(e.what());
    return 1;
  }
}
