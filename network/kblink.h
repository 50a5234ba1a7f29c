// Knowledge-base links of failed installations: the numbered report fields
// (platform, product, error chain), their text form, and the encoding that
// makes them the last path segment of the error-code page's address.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/error.h"

namespace KbLink {

struct ProductInfo {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::string productName;  // UTF-8
  std::uint32_t language = 0;
  std::string productText;
};

struct ReportFields {
  std::map<int, std::string> fields;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> errors;  // (raise site, code), head first
  std::string errorCodes;
};

// The platform fields, gathered once per process.
const ReportFields& systemFields();
void makeSystemFields(ReportFields& fields);

void buildErrorLink(const Common::Error& error, std::string& link, const ProductInfo& product, bool logFlag);
void collectReportFields(const Common::Error& error, ReportFields& fields, const ProductInfo& product);
void buildReportPayload(std::string& out, const Common::Error& error, const ProductInfo& product, bool logFlag,
                        bool forceSerialisedError, bool automatic);
// Queues the background report when the registry switch is on; empty, or
// the queue-full error. Defined with the poster in liveupdate/report_sender.cpp.
Common::Error postErrorReport(const Common::Error& error, const ProductInfo& product, bool logFlag);

void encodeReport(std::string& text);
std::string linkBase64(const unsigned char* bytes, std::size_t length);
std::string serializedErrorText(const Common::Error& error);
bool generateUuid(unsigned char uuid[16], int kind);
std::string uuidText(const unsigned char uuid[16]);
void replaceAll(std::string& text, const std::string& what, const std::string& with);
void appendField(std::string& out, int number, const std::string& value);

// "http://<knowledge-base host>/errorcode/"
const char* errorCodeAddress();
std::string makeErrorCodeLink(const std::string& payload);

}  // namespace KbLink
