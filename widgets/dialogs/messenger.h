// The GUI's messenger: any thread hands it a message; it shows the message
// box on the GUI thread, waits, and answers the pressed button's flag.
// Remembers "do not show again" per error code and lets any thread close
// the boxes it has open. Includes FOX.
#pragma once

#include <fx.h>

#include <cstdint>
#include <map>

#include "core/messenger.h"
#include "platform/fox/fxwstring.h"
#include "widgets/dialogs/message_box.h"

class FXKMessenger : public Processor::Messenger {
 public:
  // Receives the close chores on the GUI thread.
  class Core : public FX::FXObject {
    FXDECLARE(Core)

   public:
    explicit Core(FXKMessenger* messenger) : messenger(messenger) {}
    long onChoreClose(FX::FXObject*, FX::FXSelector, void*);
    long onChoreCloseAll(FX::FXObject*, FX::FXSelector, void*);
    FXKMessenger* messenger = nullptr;

   protected:
    Core() = default;
  };

  explicit FXKMessenger(FX::FXWindow* owner);
  ~FXKMessenger() override;

  std::uint32_t show(const Processor::MessengerMessage& message) override;
  void close(std::uint32_t id) override;
  void closeAll() override;

  // The box options a message turns into (suppression not applied).
  FXKMessageBox::Options optionsFor(const Processor::MessengerMessage& message) const;
  // A box result as the message flag of its button; 0 for none.
  static std::uint32_t answerOf(std::uint32_t result);

  // GUI thread: the box shown for an id, or null.
  FX::FXWindow* openBox(std::uint32_t id) const;

 private:
  std::uint32_t showBox(std::uint32_t id, FXKMessageBox::Options& options);

  Core* core_ = nullptr;
  FX::FXWindow* owner_ = nullptr;
  std::map<std::uint32_t, FX::FXWindow*> openBoxes_;
};
