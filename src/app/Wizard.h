// The wizard's life after the start-up services: the window and its message loop.
#pragma once

#include <windows.h>

#include "pipeline/MediaRun.h"

namespace bw {

// Shows the wizard as the command line asks (unknown words are named in a message box first)
// and runs its message loop; the loop's exit code.
int RunWizard(HINSTANCE instance, const DownloadSources& sources, const char* commandLine);

}  // namespace bw
