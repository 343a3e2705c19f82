// This computer's storage and network drivers, for a medium of the machine's own architecture:
// most media are made on the machine they later restore, whose disk or network card the
// in-box drivers may not know.
#pragma once

#include <string>

#include "pipeline/MediaRun.h"

namespace bw {

// True when the [Version] section of an .inf file (its bytes: ANSI, or UTF-16LE or UTF-8 with
// a byte order mark) names a storage or network class, by Class or by ClassGuid.
bool NamesStorageOrNetworkClass(const std::string& inf);

// Empties `folder`, then exports into it, each into a folder of its own, the machine's
// third-party driver packages that name such a class. Returns how many went in. A failure of
// the whole step is one log line and 0; a package that fails is named and skipped; with no
// such package there is no line and no folder. Raises only what ends the run (Cancel).
int ExportHostDrivers(RunHost& host, const SystemProbe& system, const std::string& folder);

}  // namespace bw
