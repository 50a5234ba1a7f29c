// Test fixtures of the widget library: a tree of items named by paths, a
// browser over it, and a recorder of the messages a view or target receives.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "widgets/browser.h"

namespace kvtest {

// An item named by its path from the root ("" is the root, "1/2" the second
// child of the first child). Items with a child count in the tree are folders.
class PathItem : public FXKBrowserItem {
 public:
  explicit PathItem(std::string path, bool folder = false) : path(std::move(path)), folder(folder) {}
  std::string path;
  bool folder;

  int compare(const FXKBrowserItem* other) const override {
    auto* o = dynamic_cast<const PathItem*>(other);
    if (!o) return 0;
    if (o->path == path) return 1;
    if (path.empty()) return 2;
    return o->path.size() > path.size() && o->path.compare(0, path.size(), path) == 0 && o->path[path.size()] == '/'
               ? 2
               : 0;
  }
  FXKBrowserItem* clone() const override {
    auto* copy = new PathItem(path, folder);
    copy->copyBase(*this);
    return copy;
  }
  bool hasChildren() const override { return folder; }
  FXKBrowserItem* getParent() const override {
    if (path.empty()) return nullptr;
    const auto slash = path.rfind('/');
    return new PathItem(slash == std::string::npos ? std::string() : path.substr(0, slash), true);
  }
  std::size_t hashValue() const override { return std::hash<std::string>()(path); }
};

// A browser over a fixed tree: folder path -> number of children; a child
// that is itself in the map is a folder.
class TreeBrowser : public FXKBrowser {
 public:
  TreeBrowser(FX::FXApp* app, std::map<std::string, int> tree) : FXKBrowser(app), tree(std::move(tree)) {
    setRoot(new PathItem("", true));
  }
  std::map<std::string, int> tree;
  int updates = 0;
  std::vector<FX::FXuint> updateFlags;

  static std::string childPath(const std::string& parent, int i) {
    return parent.empty() ? std::to_string(i) : parent + "/" + std::to_string(i);
  }
  FXKItemIterator* enumerateChildren(const FXKBrowserItem* item, const FXKBrowser*, FX::FXuint) override {
    auto* p = dynamic_cast<const PathItem*>(item);
    if (!p) return nullptr;
    auto found = tree.find(p->path);
    if (found == tree.end() || found->second == 0) return nullptr;
    auto* it = new FXKListItemIterator;
    for (int i = 1; i <= found->second; ++i) {
      const std::string path = childPath(p->path, i);
      it->append(new PathItem(path, tree.count(path) > 0));
    }
    return it;
  }
  void onUpdate(FX::FXuint flags) override {
    ++updates;
    updateFlags.push_back(flags);
    FXKBrowser::onUpdate(flags);
  }
  using FXKBrowser::setRoot;
};

struct Message {
  FX::FXuint type;
  FX::FXuint id;
  std::string item;  // the PathItem's path, or "-" when the data is none
};

class Recorder : public FX::FXObject {
 public:
  std::vector<Message> log;
  std::function<void(FX::FXSelector, void*)> onMessage;
  long handle(FX::FXObject*, FX::FXSelector sel, void* ptr) override {
    std::string what = "-";
    if (FXSELTYPE(sel) != FX::SEL_CHANGED || FXSELID(sel) != FXKBrowser::ID_DOCUMENT)
      if (auto* p = dynamic_cast<PathItem*>(static_cast<FX::FXObject*>(ptr))) what = p->path;
    log.push_back({FXSELTYPE(sel), FXSELID(sel), what});
    if (onMessage) onMessage(sel, ptr);
    return 1;
  }
};

}  // namespace kvtest

#include <chrono>
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "gui/app/korvane_app.h"
#include "platform/fox/fx_test_display.h"

namespace kvtest {

class TestApp : public FXKorvaneApp {
 public:
  TestApp() : FXKorvaneApp(FXWString(u"kvtest"), FXWString(u"kvtest"), nullptr) {}
};

// An application with one main window under the test display; skipped
// without a display.
class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY") || !FX::holdTestDisplay()) GTEST_SKIP() << "no X display";
    app = std::make_unique<TestApp>();
    int argc = 1;
    static char name[] = "kvtest";
    static char* argv[] = {name, nullptr};  // FOX keeps it for every main window it creates
    app->init(argc, argv);
    main = new FX::FXMainWindow(app.get(), "test", nullptr, nullptr, FX::DECOR_NONE, 0, 0, 400, 300);
    app->create();
  }
  void TearDown() override {
    if (!app) return;
    app->destroy();
    app.reset();
  }
  void drain() {
    while (app->pendingChores()) app->dispatchChores();
  }
  // Lays out and shows the main window, then runs what is pending.
  void show() {
    main->create();
    main->show(FX::PLACEMENT_DEFAULT);
    main->layout();
    app->forceRefresh();
    app->runWhileEvents(nullptr);
  }
  std::unique_ptr<TestApp> app;
  FX::FXMainWindow* main = nullptr;
};

}  // namespace kvtest
