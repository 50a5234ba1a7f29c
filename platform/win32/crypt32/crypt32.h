// The certificate store and chain calls of crypt32, over OpenSSL.
// The "ROOT" system store is the machine's CA folder (KV_CERT_ROOT moves it,
// default /etc/ssl/certs); every other system store is a folder of the world
// (<world>/certstores/<location>/<NAME>), one DER file per certificate.
// Stores are read when opened; additions and deletions write through to the
// folder. Store and context handles are pointers, as on Windows.
#pragma once

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"

using HCERTSTORE = void*;
using HCRYPTPROV_LEGACY = ULONG_PTR;
using HCRYPTPROV_OR_NCRYPT_KEY_HANDLE = ULONG_PTR;
using HCERTCHAINENGINE = void*;

struct CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  void* pCertInfo;  // not decoded here: always null
  HCERTSTORE hCertStore;
};
using PCCERT_CONTEXT = const CERT_CONTEXT*;

struct CRYPT_DATA_BLOB {
  DWORD cbData;
  BYTE* pbData;
};
using CRYPT_HASH_BLOB = CRYPT_DATA_BLOB;

struct CERT_TRUST_STATUS {
  DWORD dwErrorStatus;
  DWORD dwInfoStatus;
};
struct CERT_CHAIN_ELEMENT {
  DWORD cbSize;
  PCCERT_CONTEXT pCertContext;
  CERT_TRUST_STATUS TrustStatus;
};
struct CERT_SIMPLE_CHAIN {
  DWORD cbSize;
  CERT_TRUST_STATUS TrustStatus;
  DWORD cElement;
  CERT_CHAIN_ELEMENT** rgpElement;
};
struct CERT_CHAIN_CONTEXT {
  DWORD cbSize;
  CERT_TRUST_STATUS TrustStatus;
  DWORD cChain;
  CERT_SIMPLE_CHAIN** rgpChain;
};
using PCCERT_CHAIN_CONTEXT = const CERT_CHAIN_CONTEXT*;
struct CERT_USAGE_MATCH {
  DWORD dwType;
  DWORD cUsageIdentifier;
  char** rgpszUsageIdentifier;
};
struct CERT_CHAIN_PARA {
  DWORD cbSize;
  CERT_USAGE_MATCH RequestedUsage;
};

#define X509_ASN_ENCODING 0x00000001
#define PKCS_7_ASN_ENCODING 0x00010000

#define CERT_STORE_PROV_MEMORY ((LPCSTR)2)
#define CERT_STORE_PROV_FILENAME_W ((LPCSTR)8)
#define CERT_STORE_PROV_SYSTEM_W ((LPCSTR)10)

#define CERT_STORE_SET_LOCALIZED_NAME_FLAG 0x00000002
#define CERT_STORE_CREATE_NEW_FLAG 0x00002000
#define CERT_STORE_OPEN_EXISTING_FLAG 0x00004000
#define CERT_STORE_READONLY_FLAG 0x00008000

#define CERT_SYSTEM_STORE_CURRENT_USER 0x00010000
#define CERT_SYSTEM_STORE_LOCAL_MACHINE 0x00020000
#define CERT_SYSTEM_STORE_CURRENT_SERVICE 0x00040000
#define CERT_SYSTEM_STORE_SERVICES 0x00050000
#define CERT_SYSTEM_STORE_USERS 0x00060000
#define CERT_SYSTEM_STORE_CURRENT_USER_GROUP_POLICY 0x00070000
#define CERT_SYSTEM_STORE_LOCAL_MACHINE_GROUP_POLICY 0x00080000
#define CERT_SYSTEM_STORE_LOCAL_MACHINE_ENTERPRISE 0x00090000
#define CERT_SYSTEM_STORE_LOCATION_MASK 0x00FF0000

#define CERT_STORE_ADD_NEW 1
#define CERT_STORE_ADD_REPLACE_EXISTING 3

#define CERT_SHA1_HASH_PROP_ID 3
#define CERT_STORE_LOCALIZED_NAME_PROP_ID 0x1000
#define CERT_FIND_SHA1_HASH 0x00010000

#define CERT_NAME_RDN_TYPE 2
#define CERT_NAME_FRIENDLY_DISPLAY_TYPE 5
#define CERT_NAME_ISSUER_FLAG 0x1
#define CERT_X500_NAME_STR 3

#define CERT_TRUST_NO_ERROR 0x00000000
#define CERT_TRUST_IS_NOT_TIME_VALID 0x00000001
#define CERT_TRUST_IS_NOT_TIME_NESTED 0x00000002
#define CERT_TRUST_IS_REVOKED 0x00000004
#define CERT_TRUST_IS_NOT_SIGNATURE_VALID 0x00000008
#define CERT_TRUST_IS_NOT_VALID_FOR_USAGE 0x00000010
#define CERT_TRUST_IS_UNTRUSTED_ROOT 0x00000020
#define CERT_TRUST_IS_PARTIAL_CHAIN 0x00010000
#define CERT_TRUST_IS_SELF_SIGNED 0x00000008

#define CRYPT_ACQUIRE_CACHE_FLAG 0x00000001
#define CRYPT_EXPORTABLE 0x00000001
#define CRYPT_USER_KEYSET 0x00001000
#define EXPORT_PRIVATE_KEYS 0x0004

#define CRYPT_E_NOT_FOUND ((DWORD)0x80092004L)
#define CRYPT_E_EXISTS ((DWORD)0x80092005L)
#define CRYPT_E_NO_KEY_PROPERTY ((DWORD)0x8009200BL)
#define CRYPT_E_ASN1_BADTAG ((DWORD)0x8009310BL)
#define CRYPT_E_BAD_ENCODE ((DWORD)0x80092002L)
#define E_ACCESSDENIED_DWORD ((DWORD)0x80070005L)

HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType, HCRYPTPROV_LEGACY hCryptProv,
                         DWORD dwFlags, const void* pvPara);
HCERTSTORE CertDuplicateStore(HCERTSTORE hCertStore);
BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);
BOOL CertGetStoreProperty(HCERTSTORE hCertStore, DWORD dwPropId, void* pvData, DWORD* pcbData);

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext);
PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType, DWORD dwFindFlags,
                                          DWORD dwFindType, const void* pvFindPara,
                                          PCCERT_CONTEXT pPrevCertContext);
PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                            DWORD cbCertEncoded);
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext, DWORD dwAddDisposition,
                                      PCCERT_CONTEXT* ppStoreContext);
// Frees the context, as on Windows, also when it fails.
BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext);
BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData, DWORD* pcbData);
// Characters written including the NUL; 1 (an empty text) when there is none.
DWORD CertGetNameStringW(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags, void* pvTypePara,
                         LPWSTR pszNameString, DWORD cchNameString);

// Trust anchors come from the ROOT store; intermediates from the certificate's
// own store. The chain holds the one simple chain that was built.
BOOL CertGetCertificateChain(HCERTCHAINENGINE hChainEngine, PCCERT_CONTEXT pCertContext, const void* pTime,
                             HCERTSTORE hAdditionalStore, const CERT_CHAIN_PARA* pChainPara, DWORD dwFlags,
                             void* pvReserved, PCCERT_CHAIN_CONTEXT* ppChainContext);
void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext);

// Succeeds when a private key goes with the certificate (from a PKCS #12
// import); the handle stays the context's.
BOOL CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags, void* pvParameters,
                                       HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProvOrNCryptKey, DWORD* pdwKeySpec,
                                       BOOL* pfCallerFreeProvOrNCryptKey);

BOOL PFXIsPFXBlob(CRYPT_DATA_BLOB* pPFX);
// A memory store with the blob's certificates; the key goes with the
// certificate it belongs to. A wrong password fails with ERROR_INVALID_PASSWORD.
HCERTSTORE PFXImportCertStore(CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword, DWORD dwFlags);
BOOL PFXExportCertStoreEx(HCERTSTORE hStore, CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword, void* pvReserved,
                          DWORD dwFlags);

// The layer's own: the "ROOT" store as the TLS library's trust store, shared
// by every connection of the process. Read once, and again only when the
// folder has changed (its time stamps); the caller frees its reference with
// X509_STORE_free.
struct x509_store_st;
namespace win32 {
x509_store_st* root_trust_store();
}
