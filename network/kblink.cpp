#include "network/kblink.h"

// The report cipher is the block routine itself, which OpenSSL 3 marks as old.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/aes.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/text_convert.h"
#include "platform/win32/windows.h"
#include "system/md5.h"
#include "system/random.h"

namespace KbLink {

namespace {

// The report cipher key: these sixteen characters are the key bytes.
const unsigned char kReportKey[16] = {'7', 'C', '3', 'E', '9', '1', 'A', '0',
                                      '5', 'B', 'D', '2', 'F', '8', '4', '6'};

std::string hex(std::uint64_t value, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return buf;
}

void storeIfSet(ReportFields& fields, int number, const std::string& value) {
  if (!value.empty()) fields.fields[number] = value;
}

using IsWow64 = BOOL (*)(HANDLE, BOOL*);

std::string architecture() {
  static const FARPROC entry = GetProcAddress(GetModuleHandleA("kernel32"), "IsWow64Process");
  BOOL wow = FALSE;
  // A 64-bit build is on a 64-bit system whatever IsWow64Process says.
  if (sizeof(void*) == 8) return "64";
  if (entry && reinterpret_cast<IsWow64>(reinterpret_cast<void (*)()>(entry))(GetCurrentProcess(), &wow) && wow) return "64";
  return "86";
}

std::string biosValue(HKEY key, const char* name) {
  char buf[256] = {};
  DWORD size = sizeof buf, type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS ||
      size == 0 || type != REG_SZ)
    return {};
  return std::string(buf, strnlen(buf, size));
}

// Field 15's and field 16's texts, walking the chain head first up to a record of code 0.
void walkChain(const Common::Error& error, ReportFields* fields, std::string* codes, std::string* sites) {
  for (Common::Error e = error; e && e.code() != 0; e = e.cause()) {
    std::string code = hex(e.code(), 8);
    std::uint32_t number = e.code() & 0xFFFF;
    if (number == 0xFFF0 || number == 0xFFF1 || e.code() == 9)
      code += "+" + hex(static_cast<std::uint32_t>(e.numberField("code")), 8);
    if (codes) *codes += (codes->empty() ? "" : "+") + code;
    if (sites) *sites += (sites->empty() ? "" : "+") + hex(e.site(), 16);
    if (fields) fields->errors.emplace_back(e.site(), e.code());
  }
}

}  // namespace

void makeSystemFields(ReportFields& fields) {
  std::string platformType = "Windows";
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\MiniNT", 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    RegCloseKey(key);
    platformType = "WinPE";
  }
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  std::string kernel;
  if (GetVersionExA(&version))
    kernel = std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) + "." +
             std::to_string(version.dwBuildNumber);
  char language[8];
  std::snprintf(language, sizeof language, "0x%04X", static_cast<unsigned>(GetSystemDefaultUILanguage()));
  storeIfSet(fields, 1, platformType);
  storeIfSet(fields, 3, kernel);
  storeIfSet(fields, 4, language);
  storeIfSet(fields, 2, architecture());
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\BIOS", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    storeIfSet(fields, 12, biosValue(key, "SystemManufacturer"));
    storeIfSet(fields, 13, biosValue(key, "SystemProductName"));
    RegCloseKey(key);
  }
  unsigned char uuid[16];
  if (generateUuid(uuid, 0)) storeIfSet(fields, 14, uuidText(uuid));
}

const ReportFields& systemFields() {
  static const ReportFields fields = [] {
    ReportFields f;
    makeSystemFields(f);
    return f;
  }();
  return fields;
}

bool generateUuid(unsigned char uuid[16], int kind) {
  if (kind != 0) return false;
  if (!Common::randomBytes(uuid, 16, false)) return false;
  uuid[8] = static_cast<unsigned char>((uuid[8] & 0x3F) | 0x80);
  std::uint16_t v = static_cast<std::uint16_t>(uuid[6] | uuid[7] << 8);
  v = static_cast<std::uint16_t>((v & 0x0FFF) | 0x4000);
  uuid[6] = static_cast<unsigned char>(v & 0xFF);
  uuid[7] = static_cast<unsigned char>(v >> 8);
  return true;
}

std::string uuidText(const unsigned char u[16]) {
  unsigned long a = static_cast<unsigned long>(u[0] | u[1] << 8 | u[2] << 16 | static_cast<unsigned long>(u[3]) << 24);
  unsigned b = static_cast<unsigned>(u[4] | u[5] << 8), c = static_cast<unsigned>(u[6] | u[7] << 8);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", a, b, c, u[8], u[9], u[10],
                u[11], u[12], u[13], u[14], u[15]);
  return buf;
}

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
  if (what.empty()) return;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + with.size()))
    text.replace(p, what.size(), with);
}

std::string linkBase64(const unsigned char* bytes, std::size_t length) {
  std::string out((length + 2) / 3 * 4, '\0');
  char* end = Processor::base64Encode<char>(out.data(), bytes, bytes + length);
  out.resize(static_cast<std::size_t>(end - out.data()));
  replaceAll(out, "+", "-");
  replaceAll(out, "/", "_");
  return out;
}

std::string serializedErrorText(const Common::Error& error) {
  if (!error || error.code() == 0) return {};
  std::size_t length = 0;
  std::uint8_t* bytes = error.serialize(length);
  std::string text = bytes ? linkBase64(bytes, length) : std::string();
  delete[] bytes;
  return text;
}

void appendField(std::string& out, int number, const std::string& value) {
  if (value.empty()) return;
  // A quote or ";" inside would end the field early: they and the escape
  // character itself are escaped with a backslash.
  std::string escaped;
  escaped.reserve(value.size());
  for (char c : value) {
    if (c == '"' || c == ';' || c == '\\') escaped += '\\';
    escaped += c;
  }
  out += std::to_string(number) + "=\"" + escaped + "\";";
}

void encodeReport(std::string& text) {
  if (text.empty()) return;
  std::size_t length = (text.size() + 15) / 16 * 16;
  std::vector<unsigned char> data(length + 16, 0);
  std::memcpy(data.data(), text.data(), text.size());
  AES_KEY key;
  AES_set_encrypt_key(kReportKey, 128, &key);
  for (std::size_t i = 0; i < length; i += 16) AES_encrypt(data.data() + i, data.data() + i, &key);
  Common::Md5 md5;
  md5.update(data.data(), length);
  md5.finish(data.data() + length);
  text = linkBase64(data.data(), data.size());
}

void buildReportPayload(std::string& out, const Common::Error& error, const ProductInfo& product, bool logFlag,
                        bool forceSerialisedError, bool automatic) {
  out.clear();
  for (const auto& [number, value] : systemFields().fields) appendField(out, number, value);
  std::string serialised = serializedErrorText(error);
  if (forceSerialisedError || serialised.size() <= 1024) {
    appendField(out, 11, serialised);
  } else {
    std::string codes, sites;
    walkChain(error, nullptr, &codes, &sites);
    appendField(out, 16, sites);
    appendField(out, 15, codes);
  }
  appendField(out, 8, std::to_string(product.major) + "." + std::to_string(product.minor));
  appendField(out, 9, std::to_string(product.build));
  appendField(out, 5, product.productName);
  appendField(out, 6, product.productText);
  appendField(out, 10, std::to_string(product.language));
  if (logFlag) appendField(out, 18, "Log");
  if (automatic) appendField(out, 34, "Automatic");
  encodeReport(out);
}

const char* errorCodeAddress() { return "http://kb.korvane.com/errorcode/"; }

std::string makeErrorCodeLink(const std::string& payload) {
  return payload.empty() ? std::string() : errorCodeAddress() + payload;
}

void buildErrorLink(const Common::Error& error, std::string& link, const ProductInfo& product, bool logFlag) {
  std::string payload;
  buildReportPayload(payload, error, product, logFlag, false, false);
  link = makeErrorCodeLink(payload);
}

void collectReportFields(const Common::Error& error, ReportFields& fields, const ProductInfo& product) {
  if (&fields != &systemFields()) fields.fields = systemFields().fields;
  fields.fields[8] = std::to_string(product.major) + "." + std::to_string(product.minor);
  fields.fields[9] = std::to_string(product.build);
  fields.fields[5] = product.productName;
  fields.fields[10] = std::to_string(product.language);
  walkChain(error, &fields, &fields.errorCodes, nullptr);
}

}  // namespace KbLink
