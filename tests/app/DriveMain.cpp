// bwdrive: works a running wizard from a script. Steps run in order; the first that fails
// ends the program with exit code 1.
//   bwdrive [--desktop NAME] STEP...
//   window MS          wait up to MS for the wizard's window to be shown
//   click start|cancel|iso|usb
//   settext iso TEXT   put TEXT into the ISO file edit
//   waitlog TEXT MS    wait until the log holds TEXT
//   waitidle MS        wait until Start is enabled and Cancel disabled
//   log                print the log
//   close              ask the window to close
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "AppDriver.h"

namespace {

int Fail(const std::string& why) {
  std::fprintf(stderr, "bwdrive: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  if (i + 1 < argc && std::string(argv[i]) == "--desktop") {
    // The desktop exists once the program started on it has come up.
    HDESK desk = nullptr;
    bwdrive::WaitFor([&] { return (desk = OpenDesktopA(argv[i + 1], 0, FALSE, GENERIC_ALL)); },
                     30000, 100);
    if (!desk || !SetThreadDesktop(desk)) return Fail(std::string("no desktop ") + argv[i + 1]);
    i += 2;
  }
  const std::map<std::string, int> controls = {
      {"start", bw::kIdStart}, {"cancel", bw::kIdCancel}, {"iso", bw::kIdIso}, {"usb", bw::kIdUsb}};
  bwdrive::App app;
  auto arg = [&](int k) { return k < argc ? std::string(argv[k]) : std::string(); };
  while (i < argc) {
    const std::string step = argv[i++];
    if (step == "window") {
      if (!app.Attach(std::strtoul(arg(i++).c_str(), nullptr, 10))) return Fail("no window");
    } else if (!app.Window()) {
      if (!app.Attach(20000)) return Fail("no window");
      --i;
    } else if (step == "click") {
      auto found = controls.find(arg(i++));
      if (found == controls.end()) return Fail("click what?");
      app.Click(found->second);
    } else if (step == "settext") {
      if (arg(i++) != "iso") return Fail("settext iso TEXT");
      const std::string text = arg(i++);
      SendMessageA(app.Control(bw::kIdIsoFile), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(text.c_str()));
    } else if (step == "waitlog") {
      const std::string text = arg(i++);
      if (!app.WaitLogContains(text, std::strtoul(arg(i++).c_str(), nullptr, 10))) {
        std::fprintf(stderr, "%s\n", app.Log().c_str());
        return Fail("the log never showed \"" + text + "\"");
      }
    } else if (step == "waitidle") {
      if (!app.WaitIdle(std::strtoul(arg(i++).c_str(), nullptr, 10))) return Fail("still busy");
    } else if (step == "log") {
      std::printf("%s\n", app.Log().c_str());
    } else if (step == "close") {
      app.Close();
    } else {
      return Fail("unknown step " + step);
    }
  }
  return 0;
}
