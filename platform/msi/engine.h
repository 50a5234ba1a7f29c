// msi.dll's installation and product-query functions, served by a small engine:
// a database install reads the package, copies its files (from its cabinets)
// into their target folders, keeps a cached copy as the local package and
// registers the product in the registry store; a removal takes them away. A
// patch is recorded against its installed target; its transforms are not
// applied to files. The engine has no user interface of its own.
#pragma once

#include <string>
#include <vector>

#include "platform/msi/msi.h"

enum INSTALLUILEVEL {
  INSTALLUILEVEL_NOCHANGE = 0,
  INSTALLUILEVEL_DEFAULT = 1,
  INSTALLUILEVEL_NONE = 2,
  INSTALLUILEVEL_BASIC = 3,
  INSTALLUILEVEL_REDUCED = 4,
  INSTALLUILEVEL_FULL = 5,
};

enum INSTALLSTATE {
  INSTALLSTATE_MOREDATA = -3,
  INSTALLSTATE_INVALIDARG = -2,
  INSTALLSTATE_UNKNOWN = -1,
  INSTALLSTATE_ADVERTISED = 1,
  INSTALLSTATE_ABSENT = 2,
  INSTALLSTATE_LOCAL = 3,
  INSTALLSTATE_SOURCE = 4,
  INSTALLSTATE_DEFAULT = 5,
};

enum INSTALLTYPE { INSTALLTYPE_DEFAULT = 0, INSTALLTYPE_NETWORK_IMAGE = 1, INSTALLTYPE_SINGLE_INSTANCE = 2 };

#define INSTALLLOGATTRIBUTES_APPEND 1
#define INSTALLLOGATTRIBUTES_FLUSHEACHLINE 2

#define ERROR_INSTALL_USEREXIT 1602L
#define ERROR_INSTALL_FAILURE 1603L
#define ERROR_UNKNOWN_PRODUCT 1605L
#define ERROR_INSTALL_ALREADY_RUNNING 1618L
#define ERROR_PATCH_PACKAGE_INVALID 1636L
#define ERROR_PRODUCT_VERSION 1638L
#define ERROR_INVALID_COMMAND_LINE 1639L
#define ERROR_SUCCESS_REBOOT_INITIATED 1641L
#define ERROR_PATCH_TARGET_NOT_FOUND 1642L
#define ERROR_UNKNOWN_PATCH 1647L
#define ERROR_SUCCESS_REBOOT_REQUIRED 3010L

// Answers the previous level; phWnd is ignored (no windows here).
INSTALLUILEVEL MsiSetInternalUI(INSTALLUILEVEL dwUILevel, HWND* phWnd);
// A null or empty path switches logging off. Lines go to the file as they are
// written; without INSTALLLOGATTRIBUTES_APPEND the file starts empty.
UINT MsiEnableLogW(DWORD dwLogMode, LPCWSTR szLogFile, DWORD dwLogAttributes);
// The command line holds NAME=value and NAME="quoted value" pairs; the last of
// a repeated name counts. REMOVE uninstalls; REINSTALL reinstalls over the
// installed product; ADDLOCAL selects features ("ALL" or a comma list).
UINT MsiInstallProductW(LPCWSTR szPackagePath, LPCWSTR szCommandLine);
// The patch's summary template names its targets (product or upgrade codes,
// ';'-separated); its revision number is the patch code, a GUID in braces
// (else 1636). 1642 without an installed target.
UINT MsiApplyPatchW(LPCWSTR szPatchPackage, LPCWSTR szInstallPackage, INSTALLTYPE eInstallType,
                    LPCWSTR szCommandLine);
// "LocalPackage" or "ProductCode" of an applied patch; 1605 for an unknown one.
UINT MsiGetPatchInfoW(LPCWSTR szPatch, LPCWSTR szAttribute, LPWSTR lpValueBuf, DWORD* pcchValueBuf);
// The iPatchIndex-th patch applied to the product (lpPatchBuf holds 39
// characters) and its transforms (the patch's summary "last saved by" list);
// 234 with the size when the transforms do not fit, 259 past the last one.
UINT MsiEnumPatchesW(LPCWSTR szProduct, DWORD iPatchIndex, LPWSTR lpPatchBuf, LPWSTR lpTransformsBuf,
                     DWORD* pcchTransformsBuf);
// The patch file's description as XML: root "MsiPatch" (its code), one
// "TargetProduct" per target named by the patch's template, each with the
// "UpdatedVersion" the patch's ProductVersion property gives (none without
// one). A null buffer with a size asks for the length.
UINT MsiExtractPatchXMLDataW(LPCWSTR szPatchPath, DWORD dwReserved, LPWSTR szXMLData, DWORD* pcchXMLData);
// The iProductIndex-th registered product's code (lpProductBuf holds 39
// characters); 259 past the last one.
UINT MsiEnumProductsW(DWORD iProductIndex, LPWSTR lpProductBuf);
// Local or absent as the install chose; unknown for an unknown product or
// feature, invalid argument for a code that is no GUID.
INSTALLSTATE MsiQueryFeatureStateW(LPCWSTR szProduct, LPCWSTR szFeature);
// The component's key path (a file, a folder, or "NN:\key\name" for a
// registry value): local when the key file or folder is there, absent when it
// has gone, unknown when the product does not hold the component, more data
// (with the size) when the path does not fit.
INSTALLSTATE MsiGetComponentPathW(LPCWSTR szProduct, LPCWSTR szComponent, LPWSTR lpPathBuf, DWORD* pcchBuf);
// lpProductBuf holds 39 characters. 259 past the last related product.
UINT MsiEnumRelatedProductsW(LPCWSTR lpUpgradeCode, DWORD dwReserved, DWORD iProductIndex, LPWSTR lpProductBuf);
INSTALLSTATE MsiQueryProductStateW(LPCWSTR szProduct);
// Attributes: "PackageCode", "Version" (the packed number in decimal),
// "VersionString", "VersionMajor", "VersionMinor", "Language", "LocalPackage",
// "ProductName", "InstalledProductName", "InstallLocation", "InstallSource",
// "InstallDate" (yyyymmdd), "Publisher" (Manufacturer), "HelpLink",
// "HelpTelephone", "URLInfoAbout", "URLUpdateInfo" (the ARP* properties),
// "ProductID", "RegCompany" (COMPANYNAME), "RegOwner" (USERNAME),
// "AssignmentType" (1 with ALLUSERS, else 0); one not recorded is empty.
// A null buffer with a size asks for the length. 1605 for an unknown product,
// 1608 for an unknown attribute.
UINT MsiGetProductInfoW(LPCWSTR szProduct, LPCWSTR szAttribute, LPWSTR lpValueBuf, DWORD* pcchValueBuf);

namespace msi_engine {

// The installed engine's file version (major in the high word, minor in the
// low word), 0 when no engine is installed. 5.0 unless KV_MSI_ENGINE_VERSION
// says "absent" or "<major>.<minor>".
DWORD engine_file_version();

// Every installation call, oldest first (tests read the exact command lines).
struct InstallCall {
  std::u16string package;
  std::u16string commandLine;
  bool patch = false;
  UINT result = 0;
};
std::vector<InstallCall> recorded_installs();
void clear_recorded_installs();

// A package's forced result: KV_MSI_FORCED_RESULT holds "file=number" pairs
// separated by ';' (file names compared ignoring case), or the package's
// Property table has KvForcedResult. Failures install nothing; 3010 and 1641
// install and then answer the number.

}  // namespace msi_engine
