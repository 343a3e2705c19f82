#include "app/Wizard.h"

#include <string>

#include "app/uMain.h"
#include "support/Handles.h"
#include "support/SystemDlls.h"

namespace bw {

int RunWizard(HINSTANCE instance, const DownloadSources& sources, const char* commandLine) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS |
                                                        ICC_USEREX_CLASSES | ICC_WIN95_CLASSES};
  sys::InitCommonControlsEx(&controls);
  const auto warn = [](const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), ApplicationTitle().c_str(), MB_OK | MB_ICONWARNING);
  };
  CommandLineOptions options = ParseCommandLine(commandLine ? commandLine : "");
  if (!options.unknown.empty()) warn(UnknownArgumentsMessage(options.unknown));
  const std::string refusal = Amd64Refusal(options, RealSystem().NativeMachine());
  if (!refusal.empty()) warn(refusal);
  UniqueModule richEdit(LoadSystemModule("riched20.dll"));
  TForm1 form(sources, options.amd64, !options.noHostDrivers);
  form.Create(instance);
  form.Show();
  MSG msg;
  BOOL got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) return 1;
    if (form.Handle() && IsDialogMessageA(form.Handle(), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace bw
