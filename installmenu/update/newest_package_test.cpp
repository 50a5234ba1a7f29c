#include "installmenu/update/newest_package.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "core/error.h"
#include "installmenu/update/update_client.h"
#include "liveupdate/test_update_service.h"
#include "platform/win32/windows.h"
#include "platform/win32/testing/test_world.h"

namespace {

using namespace InstallMenuHelper;
using UpdateTest::Service;

// Records what the worker tells; `wait` returns the outcome.
class Recorder final : public DownloadHandler {
 public:
  void progress(std::uint32_t percent) override { reports.push_back(percent); }
  void downloaded() override { end("downloaded", {}); }
  void failed(const Common::Error& e) override { end("failed", e); }
  void cancelled() override { end("cancelled", {}); }
  std::string wait() {
    std::unique_lock<std::mutex> g(lock);
    done.wait_for(g, std::chrono::seconds(30), [&] { return !outcome.empty(); });
    return outcome;
  }
  std::vector<std::uint32_t> reports;
  Common::Error error;

 private:
  void end(const char* what, const Common::Error& e) {
    std::lock_guard<std::mutex> g(lock);
    outcome = what;
    error = e;
    done.notify_all();
  }
  std::mutex lock;
  std::condition_variable done;
  std::string outcome;
};

constexpr std::size_t kSize = 300'000;

class NewestPackageDownload : public win32_test::World {
 protected:
  void SetUp() override {
    win32_test::World::SetUp();
    content = UpdateTest::packageBytes(kSize, 3);
    UpdateTest::writeFile(folder.file("full-7.3.msi"), content);
    UpdateTest::writeFile(folder.file("full-7.2.msi"), "older");
    UpdateTest::writeFile(folder.file("catalogue.xml"),
                          "<update version=\"7.2\" description=\"older\"><file name=\"full-7.2.msi\" size=\"5\"/></update>"
                          "<update version=\"7.5\" description=\"a patch\"><type>Patch</type>"
                          "<file name=\"p.msp\" size=\"5\"/></update>"
                          "<update version=\"7.3\" description=\"the newest\" importance=\"1\"><importance/>"
                          "<file name=\"full-7.3.msi\" size=\"" + std::to_string(kSize) + "\"/></update>"
                          "<update version=\"7.3.0.0\" description=\"same, later\">"
                          "<file name=\"full-7.2.msi\" size=\"5\"/></update>");
    destination = folder.file("local.msi");
  }
  void pointAt(const Service& service) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Korvane\\Update\\Debug", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::string url = service.url();
    const std::u16string v(url.begin(), url.end());
    RegSetValueExW(key, u"ServerUrl", 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                   static_cast<DWORD>((v.size() + 1) * 2));
    RegCloseKey(key);
  }
  std::unique_ptr<NewestPackage> offer(const char* installed = "7.0.0.0") {
    auto info = LiveUpdate::createProductInformation(Processor::String(), "{PKG}", 1, 1033,
                                                     LiveUpdate::createVersion(installed));
    return newestPackageFor(createProductImpl(info));
  }
  std::u16string windowsPath() const {
    std::u16string p = u"Z:";
    for (char ch : destination) p += ch == '/' ? u'\\' : static_cast<char16_t>(ch);
    return p;
  }
  std::size_t fileGets(const Service& service) const {
    std::size_t n = 0;
    for (const auto& l : service.requests()) n += l.rfind("GET /files/", 0) == 0;
    return n;
  }

  UpdateTest::Folder folder;
  std::string content, destination;
};

TEST_F(NewestPackageDownload, TheChoice) {
  Service service(folder.path, {});
  pointAt(service);
  auto newest = offer();
  ASSERT_TRUE(newest);
  // 7.3 before "7.3.0.0": the first of equals; the 7.5 patch is skipped.
  EXPECT_EQ(newest->description().toNarrow(), "the newest");
  EXPECT_EQ(newest->importance(), 1u);
  EXPECT_FALSE(offer("7.3.0.0"));  // an equal version is never chosen
}

TEST_F(NewestPackageDownload, Table) {
  struct Case {
    const char* name;
    std::vector<std::string> service;
    std::string local;  // what the destination holds first ("-": no file)
    const char* outcome;
    std::uint32_t code;
    std::size_t gets;
    bool whole;          // the destination holds the package afterwards
    std::uint32_t firstReport;
  } cases[] = {
      {"fresh", {}, "-", "downloaded", 0, 1, true, 21},
      {"complete file verified without transfer", {}, "whole", "downloaded", 0, 0, true, 0},
      {"complete file, wrong hash", {"--wrong-hash"}, "whole", "failed", kChecksumError, 0, false, 0},
      {"resume from 40,000", {}, "40000", "downloaded", 0, 1, true, 35},
      {"larger file truncated", {}, "bigger", "downloaded", 0, 1, true, 21},
      {"lower-case hash", {"--lower-hash"}, "-", "downloaded", 0, 1, true, 21},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(destination);
    if (c.local == "whole") UpdateTest::writeFile(destination, content);
    if (c.local == "40000") UpdateTest::writeFile(destination, content.substr(0, 40000));
    if (c.local == "bigger") UpdateTest::writeFile(destination, content + "tail");
    Service service(folder.path, c.service);
    pointAt(service);
    auto newest = offer();
    ASSERT_TRUE(newest);
    Recorder recorder;
    newest->download(windowsPath(), &recorder);
    EXPECT_EQ(recorder.wait(), c.outcome);
    const std::u16string why = recorder.error.text();
    EXPECT_EQ(recorder.error.code(), c.code) << std::string(why.begin(), why.end());
    newest.reset();  // joins the worker
    EXPECT_EQ(fileGets(service), c.gets);
    const std::string local = UpdateTest::readFile(destination);
    if (c.whole) {
      EXPECT_TRUE(local == content);
    } else {
      EXPECT_EQ(local.size(), 0u);
    }
    if (c.firstReport) {
      ASSERT_FALSE(recorder.reports.empty());
      // From the absolute position in the file: (have + 65,536) * 100 / size.
      EXPECT_EQ(recorder.reports.front(), c.firstReport);
      EXPECT_EQ(recorder.reports.back(), 100u);
    }
    if (c.local == "40000") {
      auto lines = service.requests();
      EXPECT_EQ(lines.back(), "GET /files/full-7.3.msi HTTP/1.0 bytes=40000-" + std::to_string(kSize - 1));
    }
  }
}

TEST_F(NewestPackageDownload, CancelDuringARead) {
  Service service(folder.path, {"--stall-after", "1000"});
  pointAt(service);
  auto newest = offer();
  ASSERT_TRUE(newest);
  Recorder recorder;
  newest->download(windowsPath(), &recorder);
  for (int i = 0; i < 500 && fileGets(service) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  newest->cancel();
  EXPECT_EQ(recorder.wait(), "cancelled");
  EXPECT_TRUE(newest->isCancelled());
  newest.reset();
  // Nothing of the read that was cut is written.
  EXPECT_EQ(UpdateTest::readFile(destination).size(), 0u);
}

TEST_F(NewestPackageDownload, ADestinationThatCannotBeMadeFails) {
  Service service(folder.path, {});
  pointAt(service);
  auto newest = offer();
  Recorder recorder;
  newest->download(u"Z:/nonexistent-folder/x/y.msi", &recorder);
  EXPECT_EQ(recorder.wait(), "failed");
  EXPECT_EQ(recorder.error.code(), LiveUpdate::kFailedCheck);
}

}  // namespace

namespace {

using namespace InstallMenuHelper;

// A handler that asks the package object while it is told, as a GUI handler
// may: the object's lock is not held around the call.
class Reentrant final : public DownloadHandler {
 public:
  explicit Reentrant(NewestPackage*& package) : package_(package) {}
  void progress(std::uint32_t) override {
    if (!package_->isCancelled()) package_->cancel();
  }
  void downloaded() override { end("downloaded"); }
  void failed(const Common::Error&) override { end("failed"); }
  void cancelled() override {
    package_->isCancelled();
    end("cancelled");
  }
  std::string wait() {
    std::unique_lock<std::mutex> g(lock_);
    done_.wait_for(g, std::chrono::seconds(30), [&] { return !outcome_.empty(); });
    return outcome_;
  }

 private:
  void end(const char* what) {
    std::lock_guard<std::mutex> g(lock_);
    outcome_ = what;
    done_.notify_all();
  }
  NewestPackage*& package_;
  std::mutex lock_;
  std::condition_variable done_;
  std::string outcome_;
};

TEST_F(NewestPackageDownload, AHandlerMayCancelWhileItIsTold) {
  Service service(folder.path, {});
  pointAt(service);
  auto newest = offer();
  ASSERT_TRUE(newest);
  NewestPackage* raw = newest.get();
  Reentrant handler(raw);
  newest->download(windowsPath(), &handler);
  EXPECT_EQ(handler.wait(), "cancelled");
}

// A cancel while the download's own query waits for a silent service is
// answered at once, and the download ends as cancelled, not failed.
TEST_F(NewestPackageDownload, ACancelDuringTheQueryDoesNotWaitForIt) {
  Service offering(folder.path, {});
  pointAt(offering);
  auto newest = offer();
  ASSERT_TRUE(newest);
  Service silent(folder.path, {"--stall"});
  pointAt(silent);
  Recorder recorder;
  newest->download(windowsPath(), &recorder);
  for (int i = 0; i < 500 && silent.requests().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_FALSE(silent.requests().empty());
  newest->cancel();  // would wait for the query's two minutes under the lock
  EXPECT_EQ(recorder.wait(), "cancelled");
  newest.reset();
  EXPECT_EQ(fileGets(silent), 0u);
}

}  // namespace
