// Every entry the program takes from system DLLs that are not known DLLs. The import table
// names known DLLs only, which Windows always takes from the system folder; these load from
// there at their first call (see SystemProc). Called as the functions they stand for:
// sys::CertCloseStore(store, 0).
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <urlmon.h>
#include <wincrypt.h>
#include <winnetwk.h>
#include <softpub.h>
#include <wintrust.h>

#include "support/startup/ModuleEntries.h"

namespace bw::sys {

template <typename Fn>
using Entry = const SystemEntry<Fn>;

// version
inline constinit Entry<decltype(&::GetFileVersionInfoA)> GetFileVersionInfoA{"version.dll",
                                                                             "GetFileVersionInfoA"};
inline constinit Entry<decltype(&::GetFileVersionInfoSizeA)> GetFileVersionInfoSizeA{
    "version.dll", "GetFileVersionInfoSizeA"};
inline constinit Entry<decltype(&::VerQueryValueA)> VerQueryValueA{"version.dll", "VerQueryValueA"};

// wintrust
inline constinit Entry<decltype(&::WinVerifyTrust)> WinVerifyTrust{"wintrust.dll",
                                                                   "WinVerifyTrust"};
inline constinit Entry<decltype(&::WTHelperProvDataFromStateData)> WTHelperProvDataFromStateData{
    "wintrust.dll", "WTHelperProvDataFromStateData"};
inline constinit Entry<decltype(&::WTHelperGetProvSignerFromChain)> WTHelperGetProvSignerFromChain{
    "wintrust.dll", "WTHelperGetProvSignerFromChain"};

// crypt32
inline constinit Entry<decltype(&::CertCloseStore)> CertCloseStore{"crypt32.dll", "CertCloseStore"};
inline constinit Entry<decltype(&::CertFindCertificateInStore)> CertFindCertificateInStore{
    "crypt32.dll", "CertFindCertificateInStore"};
inline constinit Entry<decltype(&::CertFreeCertificateContext)> CertFreeCertificateContext{
    "crypt32.dll", "CertFreeCertificateContext"};
inline constinit Entry<decltype(&::CertGetNameStringA)> CertGetNameStringA{"crypt32.dll",
                                                                           "CertGetNameStringA"};
inline constinit Entry<decltype(&::CryptMsgClose)> CryptMsgClose{"crypt32.dll", "CryptMsgClose"};
inline constinit Entry<decltype(&::CryptMsgGetParam)> CryptMsgGetParam{"crypt32.dll",
                                                                       "CryptMsgGetParam"};
inline constinit Entry<decltype(&::CryptQueryObject)> CryptQueryObject{"crypt32.dll",
                                                                       "CryptQueryObject"};

// mpr
inline constinit Entry<decltype(&::WNetGetConnectionA)> WNetGetConnectionA{"mpr.dll",
                                                                           "WNetGetConnectionA"};
inline constinit Entry<decltype(&::WNetGetUserA)> WNetGetUserA{"mpr.dll", "WNetGetUserA"};

// urlmon
inline constinit Entry<decltype(&::URLDownloadToCacheFileA)> URLDownloadToCacheFileA{
    "urlmon.dll", "URLDownloadToCacheFileA"};

// comctl32: version 6, through the manifest (see LoadSystemModule).
inline constinit Entry<decltype(&::InitCommonControlsEx)> InitCommonControlsEx{
    "comctl32.dll", "InitCommonControlsEx"};
inline constinit Entry<decltype(&::SetWindowSubclass)> SetWindowSubclass{"comctl32.dll",
                                                                         "SetWindowSubclass"};
inline constinit Entry<decltype(&::DefSubclassProc)> DefSubclassProc{"comctl32.dll",
                                                                     "DefSubclassProc"};
inline constinit Entry<decltype(&::RemoveWindowSubclass)> RemoveWindowSubclass{
    "comctl32.dll", "RemoveWindowSubclass"};

}  // namespace bw::sys
