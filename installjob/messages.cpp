// How the install job fills its message records, and the language of the
// installed product that a patch must match.
#include "core/catalogue.h"
#include "platform/msi/engine.h"
#include "core/message_format.h"
#include "core/text_convert.h"
#include "installjob/package_installer.h"
#include "system/number_text.h"
#include "system/trace.h"

namespace installjob {

namespace {
std::u16string u16(const Processor::String& s) { return std::u16string(s.getBuffer(), s.length()); }
}  // namespace

KbLink::ProductInfo reportProductInfo() {
  KbLink::ProductInfo p;
  p.major = kHotfixMajor;
  p.minor = kHotfixMinor;
  p.build = kHotfixBuild;
  Common::toUtf8(p.productName, Common::catalogueText(1982, u"Vazedi for Dovecrest 2013"));
  p.language = static_cast<std::uint32_t>(Common::uiLanguageNumber());
  p.productText.clear();
  return p;
}

void attachErrorReport(const Common::Error& error, Processor::MessengerMessage& message) {
  message.flags |= 0x4000000;
  std::string link;
  KbLink::buildErrorLink(error, link, reportProductInfo(), false);
  KbLink::postErrorReport(error, reportProductInfo(), false);
  message.link = Processor::String(link.c_str());
  KbLink::ReportFields fields;
  KbLink::collectReportFields(error, fields, reportProductInfo());
  message.reportFields.clear();
  for (const auto& [number, value] : fields.fields) message.reportFields[static_cast<std::uint32_t>(number)] = value;
  message.reportFields[15] = fields.errorCodes;
  if (const char16_t* path = lookupConfig("registry_smart_error_report_cnformation")) {
    Processor::AnsiBuffer ansi(path);
    message.reportFields[17] = ansi.get() ? ansi.get() : "";
  }
  std::u16string codes;
  Common::fromUtf8(codes, fields.errorCodes.c_str());
  message.linkText = Processor::formatMessage1(Common::catalogueText(1126, u"Event code: {0}"),
                                               Processor::Variant(Processor::String(codes.c_str())));
}

void reportInstallError(Processor::Messenger* messenger, const Processor::String& text, const Common::Error& error) {
  if (!messenger) return;
  Processor::MessengerMessage message;
  message.caption = Common::catalogueText(1893, u"Error");
  message.text = Common::catalogueText(1891, u"Installation failed");
  message.details = text;
  message.flags = 0x80000031;
  if (error.code() != 0) {
    message.errorCode = error.code();
    attachErrorReport(error, message);
  }
  messenger->show(message);
}

const char16_t* languageName(std::uint64_t number) {
  switch (number) {
    case 1: return Common::catalogueText(1150, u"english");
    case 2: return Common::catalogueText(1151, u"german");
    case 17: return Common::catalogueText(1154, u"thefrench");
    case 22: return Common::catalogueText(1155, u"uk_english");
    default: return nullptr;
  }
}

std::uint32_t queryProductLanguage(msidb& database, std::u16string& value) {
  value.clear();
  msidb::rows rows;
  try {
    database.read_query(
        u"SELECT `Property`.`Value` FROM `Property` WHERE `Property`.`Property`='MsigenProductLanguage'", {}, rows);
  } catch (const msier::system& e) {
    return e.code;
  }
  if (rows.size() == 1 && !rows[0].empty()) value = rows[0][0];
  return value.empty() ? ERROR_INSTALL_PACKAGE_INVALID : ERROR_SUCCESS;
}

Common::Error checkInstalledLanguage(const std::u16string& productCode, bool& match, std::u16string& language) {
  match = false;
  language.clear();
  WCHAR local[260];
  DWORD n = 260;
  UINT r = MsiGetProductInfoW(productCode.c_str(), u"LocalPackage", local, &n);
  if (r != ERROR_SUCCESS) {
    Common::Error e(jobSite(0x1E), 0x62001E,
                    Common::catalogueText(1890, u"Failed to get installed product information."));
    e.setWin32Cause(r);
    return e;
  }
  msiquery database;
  try {
    database.open(std::u16string(local, n), true);
  } catch (const msier::system& failure) {
    Common::Error e(jobSite(0x1F), 0x62001F, Common::catalogueText(1888, u"Failed to open database."));
    e.setWin32Cause(failure.code);
    return e;
  }
  std::u16string value;
  r = queryProductLanguage(database, value);
  if (r != ERROR_SUCCESS) {
    Common::Error e(jobSite(0x20), 0x620020, Common::catalogueText(1889, u"Failed to query database."));
    e.setWin32Cause(r);
    return e;
  }
  std::uint64_t number = 0;
  if (Common::parseNumberW(&number, value.c_str(), 10)) {
    if (const char16_t* name = languageName(number)) {
      match = true;
      language = name;
    }
  }
  return {};
}

Common::Error PackageInstaller::resolvePatchTarget() {
  WCHAR product[40] = {};
  UINT r = MsiEnumRelatedProductsW(kHotfixUpgradeCode, 0, 0, product);
  if (r == ERROR_SUCCESS) {
    productCode_ = product;
    bool match = false;
    std::u16string language;
    Common::Error error = checkInstalledLanguage(productCode_, match, language);
    if (match) {
      Processor::String name = Processor::formatMessage1(Processor::String(packageName_.c_str()),
                                                         Processor::Variant(Processor::String(language.c_str())));
      packageName_ = u16(name);
      return {};
    }
    if (!error) {
      const char16_t* text =
          Common::catalogueText(1895, u"The update patch refers to a different language of the program.");
      Common::Error e(jobSite(0x1C), 0x62001C, text);
      reportInstallError(messenger_, text, e);
      return e;
    }
    reportInstallError(messenger_, Common::catalogueText(1887, u"Failed to create msp filename."), error);
    return error;
  }
  if (r == ERROR_NO_MORE_ITEMS) {
    Processor::String text = Processor::formatMessage3(
        Common::catalogueText(1892,
                                 u"The program being updated may be missing or the update patch refers to a "
                                 u"different version of the program. This patch for Dovecrest "
                                 u"{0}.{1}.{2,number,integer,####}"),
        Processor::Variant(kHotfixMajor), Processor::Variant(kHotfixMinor), Processor::Variant(kHotfixBuild));
    std::u16string owned = u16(text);
    Common::Error e(jobSite(0x21), 0x620021, owned.c_str());
    e.setWin32Cause(ERROR_NO_MORE_ITEMS);
    reportInstallError(messenger_, text, e);
    return e;
  }
  const char16_t* text = Common::catalogueText(1887, u"Failed to create msp filename.");
  Common::Error e(jobSite(0x1D), 0x62001D, text);
  e.setWin32Cause(r);
  reportInstallError(messenger_, text, e);
  return e;
}

}  // namespace installjob
