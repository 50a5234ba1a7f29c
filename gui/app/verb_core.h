// The FOX side of FXKVerbProcessor: its message target, the handler that
// turns verb execution into a command message on the GUI thread, and the
// control that lets a verb's handler set a widget's state.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <fx.h>

#include <cstdint>
#include <map>

#include "core/verb.h"
#include "gui/app/verb_processor.h"

class FXKVerbProcessorCore : public FX::FXObject {
  FXDECLARE(FXKVerbProcessorCore)

 public:
  struct Binding {
    FX::FXObject* target = nullptr;
    std::uint32_t message = 0;
  };
  struct IndirectBinding {
    FX::FXWindow** address = nullptr;
    std::uint32_t message = 0;
  };

  FXKVerbProcessorCore();
  ~FXKVerbProcessorCore() override;

  long onUpdate(FX::FXObject* sender, FX::FXSelector selector, void* data);
  long onCommand(FX::FXObject* sender, FX::FXSelector selector, void* data);

  std::map<std::uint32_t, Binding> direct;
  std::map<std::uint32_t, IndirectBinding> indirect;
  Processor::RefPtr<Processor::VerbProcessor> processor;
};

// The handler of a bound verb: execution and update travel to the GUI thread
// as SEL_COMMAND / SEL_UPDATE messages to the core.
class FXKVerbHandlerDelegator : public Processor::VerbHandler {
 public:
  FXKVerbHandlerDelegator(FX::FXObject* target, FX::FXApp* app, std::uint32_t id)
      : target_(target), app_(app), id_(id & 0xFFFF) {}

  std::int32_t execute(const char* argument) override;
  void update(Processor::VerbControl* control) override;
  virtual long foxExecute(void* data);
  virtual long foxUpdate(void* data);

 private:
  FX::FXObject* target_;
  FX::FXApp* app_;
  std::uint32_t id_;
};

class FXKVerbControl : public Processor::VerbControl {
 public:
  explicit FXKVerbControl(FX::FXObject* window) : window_(window) {}
  void enable(bool on) override;
  void check(bool on) override;
  void setThirdState(bool on) override;
  void show(bool on) override;
  void setText(const char16_t* text) override;

 private:
  void send(FX::FXuint id);
  FX::FXObject* window_;
};
