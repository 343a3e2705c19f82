// The wizard as the product builds it, but downloading from the local server: the three
// addresses come from BW_TEST_PRODUCT_URL, BW_TEST_ADK_URL and BW_TEST_WINPE_URL. The
// publishers stay the product's.
#include <windows.h>

#include <exception>
#include <string>

#include "app/Wizard.h"
#include "app/uMain.h"
#include "support/startup/ModuleEntries.h"
#include "support/startup/Startup.h"

namespace {

void Override(std::string& url, const char* variable) {
  char value[2048] = {};
  const DWORD length = GetEnvironmentVariableA(variable, value, sizeof value);
  if (length > 0 && length < sizeof value) url.assign(value, length);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  bw::LimitDllSearchToSystem();
  bw::DownloadSources sources = bw::FixedDownloadSources();
  Override(sources.product.url, "BW_TEST_PRODUCT_URL");
  Override(sources.deploymentTools.url, "BW_TEST_ADK_URL");
  Override(sources.winPE.url, "BW_TEST_WINPE_URL");
  try {
    bw::StartupSections sections;
    return bw::RunWizard(instance, sources, commandLine);
  } catch (const std::exception& e) {
    MessageBoxA(nullptr, e.what(), bw::ApplicationTitle().c_str(), MB_OK | MB_ICONERROR);
    return 1;
  }
}
