#include "support/Signature.h"

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <vector>

#include "support/Handles.h"

namespace bw {

bool VerifyFileSignature(const std::wstring& path) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path.c_str();

  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = 0;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  // Wine leaves the last error alone; callers read the reason from there.
  if (status != 0) SetLastError(static_cast<DWORD>(status));
  return status == 0;
}

namespace {

void CloseStore(HCERTSTORE store) { CertCloseStore(store, 0); }
void CloseMessage(HCRYPTMSG message) { CryptMsgClose(message); }
void FreeCertificate(PCCERT_CONTEXT certificate) { CertFreeCertificateContext(certificate); }

using UniqueStore = UniqueResource<detail::NullInvalid<HCERTSTORE, CloseStore>>;
using UniqueMessage = UniqueResource<detail::NullInvalid<HCRYPTMSG, CloseMessage>>;
using UniqueCertificate = UniqueResource<detail::NullInvalid<PCCERT_CONTEXT, FreeCertificate>>;

}  // namespace

std::string GetFileSigner(const std::wstring& path) {
  UniqueStore store;
  UniqueMessage message;
  DWORD encoding = 0;
  DWORD contentType = 0;
  DWORD formatType = 0;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                        0, &encoding, &contentType, &formatType, store.put(), message.put(),
                        nullptr)) {
    return {};
  }
  DWORD size = 0;
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) ||
      size == 0) {
    return {};
  }
  std::vector<BYTE> info(size);
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) {
    return {};
  }
  UniqueCertificate signer(
      CertFindCertificateInStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                 CERT_FIND_SUBJECT_CERT, info.data(), nullptr));
  if (!signer) return {};
  char name[512] = {};
  const DWORD length = CertGetNameStringA(signer.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr,
                                          name, sizeof name);
  return length > 1 ? std::string(name) : std::string();
}

}  // namespace bw
