// Verbs for FOX windows: FXKVerbProcessor is a verb processor whose FOX
// target (its core, FXKVerbProcessorCore) turns SEL_COMMAND and SEL_UPDATE
// messages with a verb id into verb execution and control updates, or hands
// them to the window a verb is bound to. A bound verb executed from any thread
// becomes a command message to its window, delivered on the GUI thread.
//
// This header pulls in no toolkit header; gui/app/verb_core.h has the core.
#pragma once

#include <cstdint>
#include <string>

#include "core/verb.h"
#include "platform/fox/fxwstring.h"

namespace FX {
class FXApp;
class FXObject;
class FXWindow;
}  // namespace FX

class FXKVerbProcessorCore;

class FXKVerbProcessor : public Processor::VerbProcessor {
 public:
  explicit FXKVerbProcessor(FX::FXApp* app);
  ~FXKVerbProcessor() override;

  // Forwarded to the core's processor.
  Processor::IfacePtr queryInterface(std::uint32_t id) override;

  std::int32_t setVerbHandler(const char* name, Processor::VerbHandler* handler) override;
  std::int32_t getVerbId(const char* name) override;
  // Runs executeVerb(id): the arguments are not passed on.
  std::int32_t execute(std::int32_t id, const char* argument) override;
  std::int32_t execute(const char* name, const char* argument) override;
  void update(std::int32_t id, Processor::VerbControl* control) override;
  void update(const char* name, Processor::VerbControl* control) override;
  void setDelegate(const Processor::RefPtr<Processor::VerbProcessor>& delegate) override;

  virtual std::string narrowName(const FX::FXWString& name);
  virtual std::int32_t executeVerb(std::int32_t id);

  // Registers a delegator as the verb's handler and binds the verb to a
  // window's message (replacing an earlier binding); the verb id.
  std::int32_t bindVerb(const char* name, FX::FXObject* target, std::uint32_t message);
  // Bound to whatever window *address holds when the verb runs (null allowed).
  std::int32_t bindVerbIndirect(const char* name, FX::FXWindow** address, std::uint32_t message);
  template <class W>
  std::int32_t bindVerbIndirect(const char* name, W** address, std::uint32_t message) {
    // FOX windows derive singly: a W* is the FXWindow* at the same address.
    return bindVerbIndirect(name, reinterpret_cast<FX::FXWindow**>(address), message);
  }
  bool findBinding(std::int32_t id, FX::FXObject*& target, std::uint32_t& message) const;

  // The FOX target that widgets name, with the verb id as message id.
  FX::FXObject* target() const;
  FXKVerbProcessorCore* core() const { return core_; }
  FX::FXApp* getApp() const { return app_; }

 private:
  Processor::VerbProcessor& processor() const;

  FXKVerbProcessorCore* core_;
  FX::FXApp* app_;
};
