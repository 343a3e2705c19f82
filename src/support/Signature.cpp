#include "support/Signature.h"

#include <vector>

#include "support/Handles.h"
#include "support/SystemDlls.h"

namespace bw {

namespace {

// Trust state kept open after a check, for the signer that the check itself found.
class TrustState {
 public:
  explicit TrustState(WINTRUST_FILE_INFO& file) {
    data_.cbStruct = sizeof data_;
    data_.dwUIChoice = WTD_UI_NONE;
    data_.fdwRevocationChecks = WTD_REVOKE_NONE;
    data_.dwUnionChoice = WTD_CHOICE_FILE;
    data_.pFile = &file;
    data_.dwStateAction = WTD_STATEACTION_VERIFY;
  }
  ~TrustState() {
    // No state when the check could not run at all (wintrust missing).
    if (!data_.hWVTStateData) return;
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    Call();
  }
  TrustState(const TrustState&) = delete;
  TrustState& operator=(const TrustState&) = delete;

  bool Verify() {
    const LONG status = Call();
    // Wine leaves the last error alone; callers read the reason from there.
    if (status != 0) SetLastError(static_cast<DWORD>(status));
    return status == 0;
  }

  PCCERT_CONTEXT Signer() const {
    CRYPT_PROVIDER_DATA* provider = sys::WTHelperProvDataFromStateData(data_.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer =
        provider ? sys::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    return signer && signer->csCertChain > 0 ? signer->pasCertChain[0].pCert : nullptr;
  }

 private:
  LONG Call() {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return sys::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_);
  }

  WINTRUST_DATA data_ = {};
};

std::string CertificateName(PCCERT_CONTEXT certificate) {
  char name[512] = {};
  const DWORD length = sys::CertGetNameStringA(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0,
                                               nullptr, name, sizeof name);
  return length > 1 ? std::string(name) : std::string();
}

void CloseStore(HCERTSTORE store) { sys::CertCloseStore(store, 0); }
void CloseMessage(HCRYPTMSG message) { sys::CryptMsgClose(message); }
void FreeCertificate(PCCERT_CONTEXT certificate) { sys::CertFreeCertificateContext(certificate); }

using UniqueStore = UniqueResource<detail::NullInvalid<HCERTSTORE, CloseStore>>;
using UniqueMessage = UniqueResource<detail::NullInvalid<HCRYPTMSG, CloseMessage>>;
using UniqueCertificate = UniqueResource<detail::NullInvalid<PCCERT_CONTEXT, FreeCertificate>>;

}  // namespace

bool VerifyFileSignature(const std::wstring& path) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path.c_str();
  return TrustState(file).Verify();
}

bool VerifyFileSignature(HANDLE handle, const std::wstring& path, std::string& signer) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path.c_str();
  file.hFile = handle;
  TrustState state(file);
  if (!state.Verify()) return false;
  const PCCERT_CONTEXT certificate = state.Signer();
  signer = certificate ? CertificateName(certificate) : std::string();
  return true;
}

std::string GetFileSigner(const std::wstring& path) {
  UniqueStore store;
  UniqueMessage message;
  DWORD encoding = 0;
  DWORD contentType = 0;
  DWORD formatType = 0;
  if (!sys::CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                             CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                             CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &formatType,
                             store.put(), message.put(), nullptr)) {
    return {};
  }
  DWORD size = 0;
  if (!sys::CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) ||
      size == 0) {
    return {};
  }
  std::vector<BYTE> info(size);
  if (!sys::CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) {
    return {};
  }
  UniqueCertificate signer(
      sys::CertFindCertificateInStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                      CERT_FIND_SUBJECT_CERT, info.data(), nullptr));
  return signer ? CertificateName(signer.get()) : std::string();
}

}  // namespace bw
