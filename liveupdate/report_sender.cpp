#include "liveupdate/report_sender.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "network/stream_socket.h"
#include "platform/win32/windows.h"
#include "system/number_text.h"
#include "system/regkey.h"
#include "xml/product_configuration.h"

namespace KbLink {
namespace HttpUtils {
namespace {

class SerPostQuery final : public Query {
 public:
  SerPostQuery(const std::string& address, const std::string& host, const std::string& body)
      : address_(address), host_(host), body_(body) {
    head_ = "POST " + address_ + " HTTP/1.0\r\n";
    if (!body_.empty())
      head_ += "Content-Type:application/x-www-form-urlencoded\r\nContent-Length:" + std::to_string(body_.size()) +
               "\r\n";
    head_ += "Host:" + host_ + "\r\n\r\n";
  }
  const char* headerData() const override { return head_.data(); }
  std::size_t headerSize() const override { return head_.size(); }
  const char* bodyData() const override { return body_.data(); }
  std::size_t bodySize() const override { return body_.size(); }

 private:
  std::string address_, host_, body_, head_;
};

void readStatusCode(Network::StreamSocket& socket) {
  std::string line;
  char c;
  // A server that talks on without a line end is not read forever.
  while (line.size() < 8192 && socket.receive(&c, 1, nullptr, 0, false) == 1 && c != '\r' && c != '\n') line += c;
  const std::size_t first = line.find(' ');
  if (first == std::string::npos) throw Common::Error(KV_SITE, kReportBadStatusLine, "");
  const std::size_t second = line.find(' ', first + 1);
  if (second == std::string::npos) throw Common::Error(KV_SITE, kReportBadStatusLine, "");
  const std::string code = line.substr(first + 1, second - first - 1);
  std::u16string wide(code.begin(), code.end());
  std::uint64_t value;
  if (!Common::parseNumberW(&value, wide.c_str(), 10)) throw Common::Error(KV_SITE, kReportBadStatusLine, "");
}

}  // namespace

std::shared_ptr<Query> makePostQuery(const std::string& address, const std::string& host, const std::string& body) {
  return std::make_shared<SerPostQuery>(address, host, body);
}

Common::Error send(const Query& query, const std::string& host, std::uint16_t port) {
  try {
    Network::TCPSocket socket(host, port);
    if (socket.handle() == INVALID_SOCKET) return Common::Error(KV_SITE, kReportNoConnection, "");
    if (!socket.send(query.headerData(), query.headerSize(), nullptr, 0, nullptr, 0))
      return Common::Error(KV_SITE, kReportHeadNotSent, "");
    if (query.bodySize() && !socket.send(query.bodyData(), query.bodySize(), nullptr, 0, nullptr, 0))
      return Common::Error(KV_SITE, kReportBodyNotSent, "");
    readStatusCode(socket);
  } catch (const Common::Error& e) {
    return e;
  }
  return {};
}

}  // namespace HttpUtils

const char* knowledgeBaseHost() { return "kb.korvane.com"; }

std::vector<std::u16string> splitConfigList(const char16_t* text) {
  std::vector<std::u16string> pieces;
  if (!text || !*text) return pieces;
  std::u16string all(text), piece;
  for (char16_t c : all) {
    if (c == u';') {
      pieces.push_back(piece);
      piece.clear();
    } else {
      piece += c;
    }
  }
  pieces.push_back(piece);
  return pieces;
}

bool registrySwitchOn(const std::u16string& keyPath, const std::u16string& valueName) {
  std::unique_ptr<Common::RegKey> key;
  if (Common::openRegSubKey(HKEY_LOCAL_MACHINE, keyPath, key, true, 0).code() || !key) return false;
  Common::RegValue::Data data;
  if (Common::readRegValue(*key, valueName, data).code()) return false;
  if (const auto* n = boost::get<std::uint32_t>(&data)) return *n != 0;
  if (const auto* n = boost::get<std::uint64_t>(&data)) return *n != 0;
  if (const auto* text = boost::get<std::u16string>(&data)) {
    std::uint64_t value;
    return Common::parseNumberW(&value, text->c_str(), 10) && value != 0;
  }
  return false;
}

bool probeReportingSwitch(const std::vector<std::u16string>& keys, const std::vector<std::u16string>& values,
                          const std::function<bool(const std::u16string&, const std::u16string&)>& on) {
  if (keys.empty() || values.empty()) return false;
  for (const auto& key : keys)
    for (const auto& value : values)
      if (on(key, value)) return true;
  return false;
}

bool probeReportingSwitch() {
  return probeReportingSwitch(splitConfigList(Common::getConfigString("auto_registry_keys_string")),
                              splitConfigList(Common::getConfigString("auto_registry_values_string")),
                              registrySwitchOn);
}

bool isReportingEnabled() {
  static const bool enabled = probeReportingSwitch();
  return enabled;
}

struct ReportSender::State {
  std::string host;
  std::uint16_t port;
  std::mutex lock;
  std::condition_variable wake, ended;
  std::deque<std::shared_ptr<HttpUtils::Query>> queue;
  bool stopping = false;
  bool done = false;
  Network::TCPSocket* current = nullptr;  // under `lock`
};

namespace {

// Like HttpUtils::send, with the connection visible to `stop`.
void sendInterruptibly(ReportSender::State& s, const HttpUtils::Query& query) {
  Network::TCPSocket socket(s.host, s.port);
  {
    std::lock_guard<std::mutex> g(s.lock);
    if (s.stopping) return;
    s.current = &socket;
  }
  if (socket.handle() != INVALID_SOCKET && socket.send(query.headerData(), query.headerSize(), nullptr, 0, nullptr, 0) &&
      socket.send(query.bodyData(), query.bodySize(), nullptr, 0, nullptr, 0)) {
    char c;
    while (socket.receive(&c, 1, nullptr, 0, false) == 1 && c != '\r' && c != '\n') {
    }
  }
  std::lock_guard<std::mutex> g(s.lock);
  s.current = nullptr;
}

void run(std::shared_ptr<ReportSender::State> s) {
  for (;;) {
    std::shared_ptr<HttpUtils::Query> query;
    {
      std::unique_lock<std::mutex> g(s->lock);
      s->wake.wait(g, [&] { return s->stopping || !s->queue.empty(); });
      if (s->stopping) break;
      query = s->queue.front();
      s->queue.pop_front();
    }
    // Failures are neither shown nor retried.
    sendInterruptibly(*s, *query);
  }
  std::lock_guard<std::mutex> g(s->lock);
  s->done = true;
  s->ended.notify_all();
}

}  // namespace

ReportSender::ReportSender(const std::string& host, std::uint16_t port) : state_(std::make_shared<State>()) {
  state_->host = host;
  state_->port = port;
  // The worker holds the state, so a worker left behind at exit touches
  // nothing that is gone.
  std::thread(run, state_).detach();
}

ReportSender::~ReportSender() { stop(); }


ReportSender& ReportSender::instance() {
  static ReportSender* sender = [] {
    auto* s = new ReportSender(knowledgeBaseHost(), 80);
    std::atexit([] { instance().stop(); });
    return s;
  }();
  return *sender;
}

Common::Error ReportSender::push(std::shared_ptr<HttpUtils::Query> query) {
  std::lock_guard<std::mutex> g(state_->lock);
  if (state_->stopping || state_->queue.size() >= kReportQueueCapacity)
    return Common::Error(KV_SITE, kReportQueueFull, "");
  state_->queue.push_back(std::move(query));
  state_->wake.notify_one();
  return {};
}

std::size_t ReportSender::waiting() const {
  std::lock_guard<std::mutex> g(state_->lock);
  return state_->queue.size();
}

void ReportSender::stop(std::uint32_t waitMs) {
  std::unique_lock<std::mutex> g(state_->lock);
  state_->stopping = true;
  state_->queue.clear();
  // A plain socket has no interrupt of its own: shutting it down ends
  // the blocked exchange.
  if (state_->current && state_->current->handle() != INVALID_SOCKET) ::shutdown(state_->current->handle(), SD_BOTH);
  state_->wake.notify_all();
  // A connect that hangs cannot be interrupted: the wait ends anyway.
  state_->ended.wait_for(g, std::chrono::milliseconds(waitMs), [&] { return state_->done; });
}

Common::Error submitReport(const std::string& payload) {
  return ReportSender::instance().push(
      HttpUtils::makePostQuery(errorCodeAddress(), knowledgeBaseHost(), "encoded=" + payload));
}

Common::Error postErrorReport(const Common::Error& error, const ProductInfo& product, bool logFlag) {
  if (!isReportingEnabled()) return {};
  std::string payload;
  buildReportPayload(payload, error, product, logFlag, true, true);
  return submitReport(payload);
}

}  // namespace KbLink
