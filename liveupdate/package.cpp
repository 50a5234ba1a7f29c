#include "liveupdate/package.h"

#include <algorithm>

#include "core/catalogue.h"
#include "core/error.h"
#include "core/trace.h"
#include "xml/xml_node.h"

namespace LiveUpdate {
namespace {

void trace(const char* pattern, std::initializer_list<std::pair<std::string, Processor::Variant>> values) {
  const std::vector<std::pair<std::string, Processor::Variant>> v(values);
  Processor::traceValues(0, 86, 4, Processor::String(pattern), v.data(), static_cast<std::int32_t>(v.size()));
}

[[noreturn]] void internalError(std::uint64_t site) {
  throw Common::Error(site, kInternalError, Common::catalogueText(1294, u"Internal error."));
}

constexpr std::uint32_t kTlsBroken = 0x30412;

constexpr const char16_t* kDownloadWarning =
    u"Connection to the update server has failed while downloading. Retrying connection.";
constexpr const char16_t* kHashWarning =
    u"Connection to the update server has failed while checking MD5 hash for new files. Retrying connection.";

class PackageHTTPImpl final : public Package {
 public:
  PackageHTTPImpl(Processor::RefPtr<ProductInformation> information, bool isPatch, bool hasPatchSequence,
                  bool supersedes, Processor::RefPtr<HTTPInput> input, PatchSequenceTable table,
                  const Processor::String& fileName, const Processor::String& description, std::uint32_t importance)
      : fileName_(fileName), description_(description), isPatch_(isPatch), hasPatchSequence_(hasPatchSequence),
        supersedes_(supersedes), input_(std::move(input)), information_(std::move(information)),
        table_(std::move(table)), importance_(importance) {}

  Processor::RefPtr<ProductInformation> productInformation() const override { return information_; }
  std::uint64_t size() const override {
    if (!input_) Processor::throwNullReference();
    return input_->size();
  }
  Processor::RefPtr<PackageInput> input() const override { return input_; }
  bool isPatch() const override { return isPatch_; }
  bool hasPatchSequence() const override { return hasPatchSequence_; }
  bool supersedesEarlier() const override { return supersedes_; }
  const PatchSequenceTable& patchSequences() const override { return table_; }
  Processor::String description() const override { return description_; }
  Processor::String name() const override { return fileName_; }
  std::string hash() override {
    std::string md5 = input_->queryHash();
    if (md5.empty()) throw Common::Error(KV_SITE, kFailedCheck, "!md5.empty()");
    return md5;
  }
  std::uint32_t importance() const override { return importance_; }

 private:
  Processor::String fileName_, description_;
  bool isPatch_, hasPatchSequence_, supersedes_;
  Processor::RefPtr<HTTPInput> input_;
  Processor::RefPtr<ProductInformation> information_;
  PatchSequenceTable table_;
  std::uint32_t importance_;
};

// POSTs the getUpdates request and reads its answer: the link and the hash.
void askForFile(ProtocolConfigurationAccessor& accessor, const UriResource& uri,
                const std::vector<unsigned char>& request, HttpInterrupt& interrupt,
                Processor::RefPtr<UriResource>& link, std::string& hash) {
  std::unique_ptr<Network::StreamSocket> post =
      httpPost(accessor, uri, request.data(), static_cast<std::uint32_t>(request.size()), &interrupt);
  if (!post)
    throw Common::Error(KV_SITE, kHttpConnectionError, Common::catalogueText(1283, u"Connection via HTTP error."));
  xml_document answer;
  readResponseDocument(*post, answer);
  parseGetUpdatesResponse(answer.root(), link, hash);
}

}  // namespace

HTTPInput::HTTPInput(Processor::RefPtr<ProtocolConfigurationAccessor> accessor, Processor::RefPtr<UriResource> uri,
                     std::vector<unsigned char> request, std::uint64_t size)
    : accessor_(std::move(accessor)), uri_(std::move(uri)), request_(std::move(request)), size_(size) {}

HTTPInput::~HTTPInput() = default;

void HTTPInput::connect() {
  if (!link_) {
    Processor::RefPtr<UriResource> link;
    std::string hash;
    askForFile(*accessor_, *uri_, request_, interrupt_, link, hash);
    link_ = link;
    hash_ = hash;
    trace("Server return", {{"md5", Processor::Variant(Processor::String(hash_.c_str()))},
                            {"url", Processor::Variant(link_->text())}});
  }
  socket_ = httpGetRange(*accessor_, *link_, position_, size_ - 1, &interrupt_);
  if (!socket_)
    throw Common::Error(KV_SITE, kHttpConnectionError, Common::catalogueText(1283, u"Connection via HTTP error."));
}

void HTTPInput::retry(const Common::Error& error, std::uint32_t warning, const char16_t* text) {
  const std::vector<std::pair<std::string, Processor::Variant>> values = {
      {"errorCode", Processor::Variant(error.code())}, {"errorText", Processor::Variant(Processor::String(error.text().c_str()))}};
  Processor::traceValues(3, 86, warning, Processor::String(text), values.data(),
                         static_cast<std::int32_t>(values.size()));
  if (++attempts_ >= httpAttemptLimit())
    throw Common::Error(KV_SITE, kMaxRetryExceeded, Common::catalogueText(1285, u"Max retry count exceeded (HTTP)."));
}

void HTTPInput::read(void* buffer, std::uint32_t length, std::uint32_t& count) {
  count = 0;
  if (position_ >= size_ || length == 0) return;
  const std::uint64_t want = std::min<std::uint64_t>(length, size_ - position_);
  auto* out = static_cast<unsigned char*>(buffer);
  for (;;) {
    try {
      if (!socket_) connect();
      // Piece by piece: a connection that breaks loses none of what came.
      while (count < want) {
        const std::size_t n = socket_->receive(out + count, static_cast<std::size_t>(want - count), nullptr, 0, true);
        if (n == 0)
          throw Common::Error(KV_SITE, kHttpTransferError, "The connection ended before the end of the file.");
        count += static_cast<std::uint32_t>(n);
        position_ += n;
      }
      return;
    } catch (const Common::Error& e) {
      // An interrupted read gives what came; the caller looks at its cancel.
      if (interrupt_.interrupted()) {
        socket_.reset();
        return;
      }
      // A TLS stream that breaks off after the answer began is a dropped
      // connection like any other; a refused handshake is not.
      const bool broken = socket_ && e.code() == kTlsBroken;
      if (!isRetryableHttpError(e.code()) && !broken) throw;
      // A connection that failed holds nothing more: the next try asks
      // again from where the bytes stopped.
      socket_.reset();
      retry(e, 0x567533, kDownloadWarning);
    }
  }
}

std::int64_t HTTPInput::rewind() { internalError(KV_SITE); }
std::int64_t HTTPInput::seek_cur(std::int64_t) { internalError(KV_SITE); }
std::int64_t HTTPInput::seek_end(std::int64_t) { internalError(KV_SITE); }

std::int64_t HTTPInput::seek_set(std::int64_t offset) {
  const auto target = static_cast<std::uint64_t>(offset);
  if (offset < 0 || target >= size_)
    throw Common::Error(KV_SITE, kIncorrectPosition,
                        Common::catalogueText(1286, u"Incorrect position (HTTP) is requested."));
  if (target != position_) {
    trace("Reset connection because new position different with current position",
          {{"curr", Processor::Variant(position_)}, {"new", Processor::Variant(target)}});
    socket_.reset();
    link_ = nullptr;
    position_ = target;
  }
  return offset;
}

void HTTPInput::interrupt() { interrupt_.interrupt(); }

std::string HTTPInput::queryHash() {
  if (!hash_.empty()) return hash_;
  if (socket_) throw Common::Error(KV_SITE, kFailedCheck, "!SocketValue.get()");
  trace("Query hash", {});
  for (;;) {
    try {
      Processor::RefPtr<UriResource> link;
      std::string hash;
      askForFile(*accessor_, *uri_, request_, interrupt_, link, hash);
      hash_ = hash;
      trace("Server return", {{"md5", Processor::Variant(Processor::String(hash_.c_str()))}});
      return hash_;
    } catch (const Common::Error& e) {
      if (!isRetryableHttpError(e.code())) throw;
      retry(e, 0x567532, kHashWarning);
    }
  }
}

Processor::RefPtr<Package> createPackage(Processor::RefPtr<ProductInformation> information, bool isPatch,
                                         bool hasPatchSequence, bool supersedes, Processor::RefPtr<HTTPInput> input,
                                         PatchSequenceTable table, const Processor::String& fileName,
                                         const Processor::String& description, std::uint32_t importance) {
  return Processor::makeRef<PackageHTTPImpl>(std::move(information), isPatch, hasPatchSequence, supersedes,
                                             std::move(input), std::move(table), fileName, description, importance);
}

}  // namespace LiveUpdate
