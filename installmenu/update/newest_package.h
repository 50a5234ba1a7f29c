// The newest full package the update service offers for the archive's
// product, and its download on a worker thread: resume, 64 KiB chunks,
// progress, MD5 check, cancel.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/error.h"
#include "core/string.h"
#include "liveupdate/package.h"
#include "network/http_client.h"

class ri_file;

namespace InstallMenuHelper {

constexpr std::uint32_t kChecksumError = 0x56697C;
constexpr std::uint32_t kTransferChunk = 64 * 1024;

// Called on the download worker, never under the package object's lock, so
// a handler may cancel or ask the object while it is told.
class DownloadHandler {
 public:
  virtual ~DownloadHandler() = default;
  // After every written chunk: the share of the package on disk, 0 to 100.
  virtual void progress(std::uint32_t percent) = 0;
  virtual void downloaded() = 0;
  virtual void failed(const Common::Error& error) = 0;
  virtual void cancelled() = 0;
};

class NewestPackage {
 public:
  virtual ~NewestPackage() = default;
  // From any thread, never waiting for the worker: stops a running download
  // (its query or connection is interrupted); the flag stays raised.
  virtual std::uint32_t cancel() = 0;
  virtual bool isCancelled() = 0;
  // Starts the worker; an earlier worker is waited for.
  virtual void download(const std::u16string& destination, DownloadHandler* handler) = 0;
  virtual Processor::String description() const = 0;
  virtual std::uint32_t importance() const = 0;
};

// The newest non-patch package above the product's version; the first of
// equal versions wins. Null when none is newer.
// `interrupt` lets another thread end the query ("Canceled.").
Processor::RefPtr<LiveUpdate::Package> findNewestPackage(const LiveUpdate::Product& product,
                                                         const LiveUpdate::HttpInterrupt* interrupt = nullptr);
Processor::RefPtr<LiveUpdate::Package> newestOf(const std::vector<Processor::RefPtr<LiveUpdate::Package>>& packages,
                                                const LiveUpdate::Version& installed);

// Null when the descriptor cannot be read or nothing newer is offered;
// the update client's errors are thrown.
std::unique_ptr<NewestPackage> queryNewestPackage(const std::u16string& descriptor, std::int32_t language,
                                                  std::int32_t edition,
                                                  const LiveUpdate::HttpInterrupt* interrupt = nullptr);
// The same for a product already at hand.
std::unique_ptr<NewestPackage> newestPackageFor(Processor::RefPtr<LiveUpdate::Product> product,
                                                const LiveUpdate::HttpInterrupt* interrupt = nullptr);

// 32 upper-case hexadecimal digits of the whole file.
std::string file_md5_hex(ri_file& file);

}  // namespace InstallMenuHelper
