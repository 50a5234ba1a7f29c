// The installer's own user interface: dialogs, their controls in tab order,
// and the radio groups and combo boxes that own the rows of their property.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "msi/entities/row_entity.h"
#include "msi/model/iterator.h"

namespace Msi {

class IMsiProperty;
class MsiControl;
class MsiDialog;
class MsiPackage;
class MsiRadioGroup;
class MsiComboBox;

// An iterator over keys it holds itself: the list is collected when it is made.
template <class T>
class MsiOwnedKeyIterator : private std::list<std::u16string>, public MsiIterator<T> {
 public:
  MsiOwnedKeyIterator(MsiPackage* package, std::list<std::u16string> keys)
      : std::list<std::u16string>(std::move(keys)), MsiIterator<T>(package, this) {}
};

class MsiControl : public MsiRowEntity<ControlTableDescription, MsiControl> {
 public:
  using Interface = MsiControl;
  static constexpr std::uint32_t kModule = 0xa1d4b9e3;
  // The kind bits, one per Type text.
  enum Kind : std::uint32_t {
    Billboard = 0x1,
    Bitmap = 0x2,
    CheckBox = 0x4,
    ComboBox = 0x8,
    DirectoryCombo = 0x10,
    DirectoryList = 0x20,
    Edit = 0x40,
    GroupBox = 0x80,
    Icon = 0x100,
    Line = 0x200,
    ListBox = 0x400,
    ListView = 0x800,
    MaskedEdit = 0x1000,
    PathEdit = 0x2000,
    ProgressBar = 0x4000,
    PushButton = 0x8000,
    RadioButtonGroup = 0x10000,
    ScrollableText = 0x20000,
    SelectionTree = 0x40000,
    Text = 0x80000,
    VolumeCostList = 0x100000,
    VolumeSelectCombo = 0x200000,
  };
  static constexpr std::uint32_t kAllKinds = 0x3FFFFF;

  // For rows about to be read: nothing set.
  explicit MsiControl(MsiPackage* package);
  // A new control of the dialog; geometry and attributes 0, texts empty.
  MsiControl(MsiPackage* package, MsiDialog* dialog, const std::u16string& name, std::uint32_t kind);

  // The kind bit of a Type text (case-sensitive); Msi::Error 121 (module
  // kModule) for any other text.
  static std::uint32_t typeFromName(const std::u16string& name);
  // The Type text of one kind bit; Msi::Error 121 for anything else.
  static std::u16string typeName(std::uint32_t kind);
  // The digest of a dialog name and a control name.
  static std::u16string controlId(const std::u16string& dialog, const std::u16string& control);

  MsiDialog* dialog();
  const std::u16string& dialogName() const { return value(0); }
  const std::u16string& name() const { return value(1); }
  std::uint32_t type() const { return type_; }
  std::int32_t x() const { return x_; }
  std::int32_t y() const { return y_; }
  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  // Absent for a null Attributes.
  std::optional<std::int32_t> attributes() const { return attributes_; }
  // The property the Property column names, or null.
  IMsiProperty* property();
  const std::u16string& propertyName() const { return value(8); }
  // The next control in the tab chain, or null at its end.
  MsiControl* next();
  const std::u16string& nextName() const { return value(10); }
  const std::u16string& help() const { return value(11); }

  bool matches(const MsiRow& row) const override;
  // Msi::Error 121 for a Type outside the kinds, Msi::toInt's error for a
  // geometry that is not a number; a null Attributes reads as absent.
  void loadFrom(const MsiRow& row) override;
  void writeTo(MsiRow& row) const override;
  // The control id: a digest of Dialog_ and Control, fixed at its first use.
  std::u16string key() const override;

 private:
  std::uint32_t type_ = 0;
  std::int32_t x_ = 0, y_ = 0, width_ = 0, height_ = 0;
  std::optional<std::int32_t> attributes_;
  mutable std::u16string id_;
};

class MsiDialog : public MsiRowEntity<DialogTableDescription, MsiDialog> {
 public:
  using Interface = MsiDialog;
  // For rows about to be read: nothing set.
  explicit MsiDialog(MsiPackage* package);
  // A new dialog of that name: numbers 0, no attributes, texts empty.
  MsiDialog(MsiPackage* package, const std::u16string& name);

  const std::u16string& name() const { return value(0); }
  std::int32_t hCentering() const { return hCentering_; }
  std::int32_t vCentering() const { return vCentering_; }
  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  std::optional<std::int32_t> attributes() const { return attributes_; }
  const std::u16string& title() const { return value(6); }
  MsiControl* firstControl();
  MsiControl* defaultControl();
  MsiControl* cancelControl();
  // The controls reachable from the first one along the tab chain whose kind
  // bit is in the mask, in tab order; a chain that comes back to a control
  // already seen ends there. The keys are collected now.
  std::unique_ptr<MsiIterator<MsiControl>> controls(std::uint32_t mask);
  std::unique_ptr<MsiIterator<MsiControl>> radioGroups() { return controls(MsiControl::RadioButtonGroup); }
  std::unique_ptr<MsiIterator<MsiControl>> comboBoxes() { return controls(MsiControl::ComboBox); }

  // New controls, not linked into the tab chain; null when the dialog has a
  // control of that name already or the name is empty.
  MsiControl* addControl(std::uint32_t kind, const std::u16string& name);
  MsiControl* addBillboard(const std::u16string& n) { return addControl(MsiControl::Billboard, n); }
  MsiControl* addBitmap(const std::u16string& n) { return addControl(MsiControl::Bitmap, n); }
  MsiControl* addCheckBox(const std::u16string& n) { return addControl(MsiControl::CheckBox, n); }
  MsiComboBox* addComboBox(const std::u16string& name, IMsiProperty* property);
  MsiControl* addDirectoryCombo(const std::u16string& n) { return addControl(MsiControl::DirectoryCombo, n); }
  MsiControl* addDirectoryList(const std::u16string& n) { return addControl(MsiControl::DirectoryList, n); }
  MsiControl* addEdit(const std::u16string& n) { return addControl(MsiControl::Edit, n); }
  MsiControl* addGroupBox(const std::u16string& n) { return addControl(MsiControl::GroupBox, n); }
  MsiControl* addIcon(const std::u16string& n) { return addControl(MsiControl::Icon, n); }
  MsiControl* addLine(const std::u16string& n) { return addControl(MsiControl::Line, n); }
  MsiControl* addListBox(const std::u16string& n) { return addControl(MsiControl::ListBox, n); }
  MsiControl* addListView(const std::u16string& n) { return addControl(MsiControl::ListView, n); }
  MsiControl* addMaskedEdit(const std::u16string& n) { return addControl(MsiControl::MaskedEdit, n); }
  MsiControl* addPathEdit(const std::u16string& n) { return addControl(MsiControl::PathEdit, n); }
  MsiControl* addProgressBar(const std::u16string& n) { return addControl(MsiControl::ProgressBar, n); }
  MsiControl* addPushButton(const std::u16string& n) { return addControl(MsiControl::PushButton, n); }
  MsiRadioGroup* addRadioButtonGroup(const std::u16string& name, IMsiProperty* property);
  MsiControl* addScrollableText(const std::u16string& n) { return addControl(MsiControl::ScrollableText, n); }
  MsiControl* addSelectionTree(const std::u16string& n) { return addControl(MsiControl::SelectionTree, n); }
  MsiControl* addText(const std::u16string& n) { return addControl(MsiControl::Text, n); }
  MsiControl* addVolumeCostList(const std::u16string& n) { return addControl(MsiControl::VolumeCostList, n); }
  MsiControl* addVolumeSelectCombo(const std::u16string& n) { return addControl(MsiControl::VolumeSelectCombo, n); }

  // Msi::toInt's error for a number column that is not one; a null Attributes
  // reads as absent.
  void loadFrom(const MsiRow& row) override;
  void writeTo(MsiRow& row) const override;
  // Loads the dialog's controls: each registered under its control id (an id
  // taken already keeps its object). A failing row stops the loading with its
  // error; the controls before it stay registered.
  void loaded() override;

 private:
  MsiControl* controlNamed(const std::u16string& name);
  template <class T>
  T* registerNew(std::unique_ptr<T> made);

  std::int32_t hCentering_ = 0, vCentering_ = 0, width_ = 0, height_ = 0;
  std::optional<std::int32_t> attributes_;
};

class MsiRadioButton : public MsiRowEntity<RadioButtonTableDescription, MsiRadioButton> {
 public:
  using Interface = MsiRadioButton;
  explicit MsiRadioButton(MsiPackage* package) : MsiRowEntity(package) {}
  const std::u16string& propertyName() const { return MsiRowEntity::value(0); }
  std::int32_t order() const { return order_; }
  const std::u16string& value() const { return MsiRowEntity::value(2); }
  std::int32_t x() const { return x_; }
  std::int32_t y() const { return y_; }
  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  const std::u16string& text() const { return MsiRowEntity::value(7); }
  const std::u16string& help() const { return MsiRowEntity::value(8); }

  bool matches(const MsiRow& row) const override;
  void loadFrom(const MsiRow& row) override;
  void writeTo(MsiRow& row) const override;
  // A digest of Property and Order (as a 32-bit number), fixed at first use.
  std::u16string key() const override;

 private:
  std::int32_t order_ = 0, x_ = 0, y_ = 0, width_ = 0, height_ = 0;
  mutable std::u16string key_;
};

class MsiComboBoxValue : public MsiRowEntity<ComboBoxTableDescription, MsiComboBoxValue> {
 public:
  using Interface = MsiComboBoxValue;
  explicit MsiComboBoxValue(MsiPackage* package) : MsiRowEntity(package) {}
  const std::u16string& propertyName() const { return MsiRowEntity::value(0); }
  std::int32_t order() const { return order_; }
  const std::u16string& value() const { return MsiRowEntity::value(2); }
  const std::u16string& text() const { return MsiRowEntity::value(3); }

  bool matches(const MsiRow& row) const override;
  void loadFrom(const MsiRow& row) override;
  void writeTo(MsiRow& row) const override;
  std::u16string key() const override;

 private:
  std::int32_t order_ = 0;
  mutable std::u16string key_;
};

// A control that owns the rows of its property's table, and is a cursor over
// them in the order they were read. Its next() moves the cursor; the tab chain
// is reached through MsiControl::next.
template <class Item>
class MsiItemGroup : public MsiControl, public IMsiIterator<Item> {
 public:
  explicit MsiItemGroup(MsiPackage* package) : MsiControl(package) {}
  MsiItemGroup(MsiPackage* package, MsiDialog* dialog, const std::u16string& name, std::uint32_t kind,
               IMsiProperty* property);

  bool reset() override;
  void next() override;
  bool valid() const override { return valid_; }
  Item* current() override;
  // The group's property takes the item's value; a group whose property has
  // no row yet gets one. Msi::Error 17 (module 0x6e1fbba0) for a group
  // without a property name.
  void select(Item* item);
  const std::list<std::u16string>& itemKeys() const { return keys_; }

  // The rows keyed by the Property text, whether or not a Property row
  // exists; the cursor then on the first.
  void loaded() override;

 private:
  void loadItems();

  std::list<std::u16string> keys_;
  std::list<std::u16string>::const_iterator position_;
  bool valid_ = false;
};

class MsiRadioGroup : public MsiItemGroup<MsiRadioButton> {
 public:
  using MsiItemGroup::MsiItemGroup;
};

class MsiComboBox : public MsiItemGroup<MsiComboBoxValue> {
 public:
  using MsiItemGroup::MsiItemGroup;
};

}  // namespace Msi
