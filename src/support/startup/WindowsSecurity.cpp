#include "support/startup/WindowsSecurity.h"

#include "support/startup/ModuleEntries.h"

namespace bw {

ConvertStringSecurityDescriptorToSecurityDescriptorAFn
    pConvertStringSecurityDescriptorToSecurityDescriptorA = nullptr;
ConvertSidToStringSidAFn pConvertSidToStringSidA = nullptr;

void InitWindowsSecurity() {
  // Each entry holds its own reference to advapi32.dll for the life of the process.
  pConvertStringSecurityDescriptorToSecurityDescriptorA =
      ProcEntry<ConvertStringSecurityDescriptorToSecurityDescriptorAFn>(
          LoadModule("advapi32.dll"), "ConvertStringSecurityDescriptorToSecurityDescriptorA");
  pConvertSidToStringSidA =
      ProcEntry<ConvertSidToStringSidAFn>(LoadModule("advapi32.dll"), "ConvertSidToStringSidA");
}

}  // namespace bw
