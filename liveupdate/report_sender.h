// Background error reports: when a registry switch named by the product
// configuration is on, a failed installation's report is posted as a form
// to the knowledge-base service by one worker thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/error.h"
#include "network/kblink.h"

namespace KbLink {

constexpr std::uint32_t kReportNoConnection = 0x2110001;
constexpr std::uint32_t kReportHeadNotSent = 0x2110002;
constexpr std::uint32_t kReportBodyNotSent = 0x2110003;
constexpr std::uint32_t kReportQueueFull = 0x2110004;
constexpr std::uint32_t kReportQueueEmpty = 0x2110005;
constexpr std::uint32_t kReportBadStatusLine = 0x2110007;
constexpr std::size_t kReportQueueCapacity = 100;

namespace HttpUtils {

class Query {
 public:
  virtual ~Query() = default;
  virtual const char* headerData() const = 0;
  virtual std::size_t headerSize() const = 0;
  virtual const char* bodyData() const = 0;
  virtual std::size_t bodySize() const = 0;
};

std::shared_ptr<Query> makePostQuery(const std::string& address, const std::string& host, const std::string& body);
// One exchange; the status code is read but not judged.
Common::Error send(const Query& query, const std::string& host, std::uint16_t port);

}  // namespace HttpUtils

// "kb.korvane.com"
const char* knowledgeBaseHost();

// Splits at every ";", keeping empty pieces; an empty text gives none.
std::vector<std::u16string> splitConfigList(const char16_t* text);
bool registrySwitchOn(const std::u16string& keyPath, const std::u16string& valueName);
bool probeReportingSwitch();
// The pairs in order, key outer and value inner, until `on` answers true; false
// when either list is empty.
bool probeReportingSwitch(const std::vector<std::u16string>& keys, const std::vector<std::u16string>& values,
                          const std::function<bool(const std::u16string&, const std::u16string&)>& on);
// probeReportingSwitch once per process.
bool isReportingEnabled();

// Empty on success; the queue-full error otherwise.
Common::Error submitReport(const std::string& payload);

class ReportSender {
 public:
  // The process-wide sender, made on first use and stopped at exit.
  static ReportSender& instance();

  ReportSender(const std::string& host, std::uint16_t port);
  ~ReportSender();
  Common::Error push(std::shared_ptr<HttpUtils::Query> query);
  // Ends the worker: the exchange under way is interrupted, and the wait is
  // bounded by `waitMs`; waiting requests are dropped.
  void stop(std::uint32_t waitMs = 3000);
  std::size_t waiting() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace KbLink
