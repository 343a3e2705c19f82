// Optional file-system entries: raw access to encrypted files, and symbolic links.
#pragma once

#include <windows.h>

namespace bw {

using OpenEncryptedFileRawWFn = DWORD(WINAPI*)(LPCWSTR, ULONG, PVOID*);
using CloseEncryptedFileRawFn = void(WINAPI*)(PVOID);
using ReadEncryptedFileRawFn = DWORD(WINAPI*)(PFE_EXPORT_FUNC, PVOID, PVOID);
using WriteEncryptedFileRawFn = DWORD(WINAPI*)(PFE_IMPORT_FUNC, PVOID, PVOID);
using CreateSymbolicLinkWFn = BOOLEAN(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);

extern OpenEncryptedFileRawWFn pOpenEncryptedFileRawW;
extern CloseEncryptedFileRawFn pCloseEncryptedFileRaw;
extern ReadEncryptedFileRawFn pReadEncryptedFileRaw;
extern WriteEncryptedFileRawFn pWriteEncryptedFileRaw;
extern CreateSymbolicLinkWFn pCreateSymbolicLinkW;

void InitEncryptingFileSystem();
void InitSymbolicLink();

}  // namespace bw
