#include "support/startup/FileSystemEntries.h"

#include "support/startup/ModuleEntries.h"

namespace bw {

OpenEncryptedFileRawWFn pOpenEncryptedFileRawW = nullptr;
CloseEncryptedFileRawFn pCloseEncryptedFileRaw = nullptr;
ReadEncryptedFileRawFn pReadEncryptedFileRaw = nullptr;
WriteEncryptedFileRawFn pWriteEncryptedFileRaw = nullptr;
CreateSymbolicLinkWFn pCreateSymbolicLinkW = nullptr;

namespace {
PVOID encryptedContext = nullptr;
}

void InitEncryptingFileSystem() {
  pOpenEncryptedFileRawW =
      LoadedEntry<OpenEncryptedFileRawWFn>("advapi32.dll", "OpenEncryptedFileRawW");
  pCloseEncryptedFileRaw =
      LoadedEntry<CloseEncryptedFileRawFn>("advapi32.dll", "CloseEncryptedFileRaw");
  pReadEncryptedFileRaw =
      LoadedEntry<ReadEncryptedFileRawFn>("advapi32.dll", "ReadEncryptedFileRaw");
  pWriteEncryptedFileRaw =
      LoadedEntry<WriteEncryptedFileRawFn>("advapi32.dll", "WriteEncryptedFileRaw");
  // Called once at start, as the library always has; an empty path opens nothing, so the
  // context is neither used nor closed.
  if (pOpenEncryptedFileRawW) pOpenEncryptedFileRawW(L"", 0, &encryptedContext);
}

void InitSymbolicLink() {
  pCreateSymbolicLinkW = LoadedEntry<CreateSymbolicLinkWFn>("kernel32.dll", "CreateSymbolicLinkW");
  // Likewise called once; an empty link name creates nothing.
  if (pCreateSymbolicLinkW) pCreateSymbolicLinkW(L"", L"", 0);
}

}  // namespace bw
