// The two security-descriptor conversions that the file protection needs.
#pragma once

#include <windows.h>

namespace bw {

using ConvertStringSecurityDescriptorToSecurityDescriptorAFn = BOOL(WINAPI*)(LPCSTR, DWORD,
                                                                             PSECURITY_DESCRIPTOR*,
                                                                             PULONG);
using ConvertSidToStringSidAFn = BOOL(WINAPI*)(PSID, LPSTR*);

extern ConvertStringSecurityDescriptorToSecurityDescriptorAFn
    pConvertStringSecurityDescriptorToSecurityDescriptorA;
extern ConvertSidToStringSidAFn pConvertSidToStringSidA;

void InitWindowsSecurity();

}  // namespace bw
