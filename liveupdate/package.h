// An update the service offers: its description and the reader through
// which its file is downloaded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/object.h"
#include "files/file_object.h"
#include "liveupdate/protocol.h"
#include "liveupdate/version.h"
#include "network/http_client.h"
#include "network/uri_resource.h"

namespace LiveUpdate {

constexpr std::uint32_t kIncorrectPosition = 0x5659DD;     // "Incorrect position (HTTP) is requested."
constexpr std::uint32_t kMaxRetryExceeded = 0x5659DE;      // "Max retry count exceeded (HTTP)."
constexpr std::uint32_t kCannotConnect = 0x5659DF;         // "Cannot connect to the update server. ..."
constexpr std::uint32_t kNoSuchProduct = 0x5659D9;         // "There is no such product."

// The file of an update. Failures are thrown as Common::Error.
class PackageInput : public Processor::RefObject, public ri_file {
 public:
  // From any thread: ends a blocked exchange; the reader stays interrupted.
  virtual void interrupt() = 0;
};

class MsiPackage : public Processor::RefObject {
 public:
  virtual Processor::RefPtr<ProductInformation> productInformation() const = 0;
  virtual std::uint64_t size() const = 0;
  virtual Processor::RefPtr<PackageInput> input() const = 0;
  virtual bool isPatch() const = 0;
  virtual bool hasPatchSequence() const = 0;
  virtual bool supersedesEarlier() const = 0;
  virtual const PatchSequenceTable& patchSequences() const = 0;
};

class Package : public MsiPackage {
 public:
  enum { IMPORTANCE_LAST = 2 };
  virtual Processor::String description() const = 0;
  virtual Processor::String name() const = 0;
  virtual std::string hash() = 0;
  virtual std::uint32_t importance() const = 0;
};

class HTTPInput final : public PackageInput {
 public:
  HTTPInput(Processor::RefPtr<ProtocolConfigurationAccessor> accessor, Processor::RefPtr<UriResource> uri,
            std::vector<unsigned char> request, std::uint64_t size);
  ~HTTPInput() override;

  void read(void* buffer, std::uint32_t length, std::uint32_t& count) override;
  std::int64_t rewind() override;
  std::uint64_t size() override { return size_; }
  std::int64_t seek_set(std::int64_t offset) override;
  std::int64_t seek_cur(std::int64_t distance) override;
  std::int64_t seek_end(std::int64_t distance) override;
  void interrupt() override;

  std::string queryHash();
  std::uint64_t position() const { return position_; }

 private:
  void connect();
  void retry(const Common::Error& error, std::uint32_t warning, const char16_t* text);

  Processor::RefPtr<ProtocolConfigurationAccessor> accessor_;
  Processor::RefPtr<UriResource> uri_;
  std::vector<unsigned char> request_;
  HttpInterrupt interrupt_;
  std::unique_ptr<Network::StreamSocket> socket_;
  Processor::RefPtr<UriResource> link_;
  std::uint64_t position_ = 0;
  std::uint64_t size_;
  std::string hash_;
  int attempts_ = 0;
};

Processor::RefPtr<Package> createPackage(Processor::RefPtr<ProductInformation> information, bool isPatch,
                                         bool hasPatchSequence, bool supersedes, Processor::RefPtr<HTTPInput> input,
                                         PatchSequenceTable table, const Processor::String& fileName,
                                         const Processor::String& description, std::uint32_t importance);

}  // namespace LiveUpdate
