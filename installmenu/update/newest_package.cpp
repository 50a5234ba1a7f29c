#include "installmenu/update/newest_package.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "core/catalogue.h"
#include "files/fs_error.h"
#include "files/windows_dir.h"
#include "installmenu/update/update_client.h"
#include "liveupdate/repository.h"
#include "system/md5.h"
#include "system/trace.h"

namespace InstallMenuHelper {
namespace {

[[noreturn]] void failedCheck(std::uint64_t site, const char* expression) {
  throw Common::Error(site, LiveUpdate::kFailedCheck, expression);
}

class NewestPackageImpl final : public NewestPackage {
 public:
  NewestPackageImpl(Processor::RefPtr<LiveUpdate::Product> product, const Processor::String& description,
                    std::uint32_t importance)
      : product_(std::move(product)), description_(description), importance_(importance) {}

  ~NewestPackageImpl() override {
    cancelEvent_ = true;
    queryInterrupt_.interrupt();
    {
      std::lock_guard<std::mutex> g(lock_);
      if (input_) input_->interrupt();
    }
    join(std::move(worker_));
  }

  // The worker holds the lock only for moments (never across the network
  // or a handler), so a cancel from the GUI thread does not wait.
  std::uint32_t cancel() override {
    std::lock_guard<std::mutex> g(lock_);
    cancelEvent_ = true;
    queryInterrupt_.interrupt();
    if (input_) input_->interrupt();
    return flag_.exchange(1);
  }
  bool isCancelled() override { return flag_.load() == 1; }

  void download(const std::u16string& destination, DownloadHandler* handler) override {
    std::unique_ptr<std::thread> previous;
    {
      std::lock_guard<std::mutex> g(lock_);
      destination_ = destination;
      handler_ = handler;
      // An earlier cancel ended the earlier query; this one starts afresh.
      queryInterrupt_.reset();
      previous = std::move(worker_);
      worker_ = std::make_unique<std::thread>([this] { run(); });
    }
    join(std::move(previous));
  }

  Processor::String description() const override { return description_; }
  std::uint32_t importance() const override { return importance_; }

 private:
  static void join(std::unique_ptr<std::thread> t) {
    if (t && t->joinable()) {
      if (t->get_id() == std::this_thread::get_id())
        t->detach();
      else
        t->join();
    }
  }

  void run() {
    std::unique_ptr<rio_file> file;
    Processor::RefPtr<LiveUpdate::PackageInput> input;
    try {
      std::u16string destination;
      {
        std::lock_guard<std::mutex> g(lock_);
        destination = destination_;
      }
      win32_dir* dir = current_dir();
      file.reset(dir->open_file_rw(destination.c_str(), false));
      if (!file || file->Bad()) file.reset(dir->create_file(destination.c_str(), false, nullptr));
      // Outside the lock: a cancel interrupts the query instead of waiting for it.
      Processor::RefPtr<LiveUpdate::Package> package = findNewestPackage(*product_, &queryInterrupt_);
      if (!file || !file->Good()) failedCheck(KV_SITE, "file.get() && file->Good()");
      if (!package) failedCheck(KV_SITE, "package");
      std::vector<unsigned char> buffer(kTransferChunk);
      input = package->input();
      const std::uint64_t size = input->size();
      if (size == 0) failedCheck(KV_SITE, "input->Size() > 0");
      std::uint64_t have = 0;
      {
        std::lock_guard<std::mutex> g(lock_);
        input_ = input;
        have = file->size();
        if (have > size) {
          file->set_size(0);
          file->seek_set(0);
          have = 0;
        } else if (have < size) {
          file->seek_set(static_cast<std::int64_t>(have));
          input->seek_set(static_cast<std::int64_t>(have));
        }
      }
      // A file already whole goes straight to the check.
      if (have < size) {
        const double factor = 100.0 / static_cast<double>(size);
        std::uint64_t position = have;
        for (;;) {
          if (file->Bad()) break;
          std::uint32_t count = 0;
          input->read(buffer.data(), kTransferChunk, count);
          if (cancelEvent_.exchange(false)) return finishCancelled(file, input);
          if (!count) break;
          std::uint32_t written = 0;
          file->write(buffer.data(), count, written);
          if (written != count && file->Good())
            file->set_error(Common::Error(KV_SITE, 0x40004, Common::catalogueText(0, u"The disk is full.")));
          position += written;
          if (DownloadHandler* h = handler())
            h->progress(static_cast<std::uint32_t>(static_cast<double>(position) * factor));
        }
      }
      const std::string expected = package->hash();
      const std::string actual = file_md5_hex(*file);
      if (!LiveUpdate::equalsIgnoreCase(expected, actual)) {
        file->set_size(0);
        throw Common::Error(KV_SITE, kChecksumError,
                            Common::catalogueText(0, u"Incorrect checksum of the downloaded package. Try to download "
                                                     u"the latest build from Korvane Web site manually."));
      }
      file.reset();
      if (DownloadHandler* h = endTransfer()) h->downloaded();
    } catch (const Common::Error& e) {
      file.reset();
      DownloadHandler* h = endTransfer();
      // A query cut short by a cancel is that cancel, not a failure.
      if (e.code() == fs_error::cancelled && cancelEvent_.exchange(false)) {
        if (h) h->cancelled();
        return;
      }
      Common::traceError(1, e);
      if (h) h->failed(e);
    }
  }

  void finishCancelled(std::unique_ptr<rio_file>& file, Processor::RefPtr<LiveUpdate::PackageInput>&) {
    file.reset();  // the partial file stays for a later resume
    if (DownloadHandler* h = endTransfer()) h->cancelled();
  }

  DownloadHandler* handler() {
    std::lock_guard<std::mutex> g(lock_);
    return handler_;
  }
  // Drops the current input; the handler to tell, called outside the lock.
  DownloadHandler* endTransfer() {
    std::lock_guard<std::mutex> g(lock_);
    input_ = nullptr;
    return handler_;
  }

  std::mutex lock_;
  std::atomic<std::uint32_t> flag_{0};
  std::atomic<bool> cancelEvent_{false};
  std::unique_ptr<std::thread> worker_;
  DownloadHandler* handler_ = nullptr;
  std::u16string destination_;
  Processor::RefPtr<LiveUpdate::Product> product_;
  Processor::String description_;
  std::uint32_t importance_;
  Processor::RefPtr<LiveUpdate::PackageInput> input_;
  LiveUpdate::HttpInterrupt queryInterrupt_;
};

}  // namespace

Processor::RefPtr<LiveUpdate::Package> newestOf(const std::vector<Processor::RefPtr<LiveUpdate::Package>>& packages,
                                                const LiveUpdate::Version& installed) {
  Processor::RefPtr<LiveUpdate::Version> best;
  Processor::RefPtr<LiveUpdate::Package> chosen;
  for (const auto& package : packages) {
    if (package->isPatch()) continue;
    auto version = package->productInformation()->version();
    if (LiveUpdate::compareVersions(*version, best ? *best : installed) == 1) {
      best = version;
      chosen = package;
    }
  }
  return chosen;
}

Processor::RefPtr<LiveUpdate::Package> findNewestPackage(const LiveUpdate::Product& product,
                                                         const LiveUpdate::HttpInterrupt* interrupt) {
  auto uri = LiveUpdate::createUriResource(updateServerAddress());
  auto repository = LiveUpdate::createRepositoryHTTP(uri, createProtocolConfigurationAccessor(), interrupt);
  std::vector<Processor::RefPtr<LiveUpdate::Package>> packages;
  repository->queryUpdates(&product, packages);
  return newestOf(packages, *product.productInformation()->version());
}

std::unique_ptr<NewestPackage> newestPackageFor(Processor::RefPtr<LiveUpdate::Product> product,
                                                const LiveUpdate::HttpInterrupt* interrupt) {
  auto package = findNewestPackage(*product, interrupt);
  if (!package) return nullptr;
  return std::make_unique<NewestPackageImpl>(product, package->description(), package->importance());
}

std::unique_ptr<NewestPackage> queryNewestPackage(const std::u16string& descriptor, std::int32_t language,
                                                  std::int32_t edition,
                                                  const LiveUpdate::HttpInterrupt* interrupt) {
  auto described = readPackageDescriptor(descriptor);
  if (!described) return nullptr;
  auto info = LiveUpdate::createProductInformation(Processor::String(), described->packageId(), edition, language,
                                                   described->version());
  return newestPackageFor(createProductImpl(info), interrupt);
}

std::string file_md5_hex(ri_file& file) {
  Common::Md5 md5;
  file.seek_set(0);
  std::vector<unsigned char> buffer(kTransferChunk);
  while (file.Good()) {
    std::uint32_t count = 0;
    file.read(buffer.data(), kTransferChunk, count);
    if (!count) break;
    md5.update(buffer.data(), count);
  }
  if (file.Bad()) failedCheck(KV_SITE, "!file->Bad()");
  std::uint8_t digest[16];
  md5.finish(digest);
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : digest) {
    out += hex[b >> 4];
    out += hex[b & 15];
  }
  return out;
}

}  // namespace InstallMenuHelper
