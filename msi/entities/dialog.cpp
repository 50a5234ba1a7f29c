#include "msi/entities/dialog.h"

#include <iterator>
#include <set>

#include "msi/entities/com.h"
#include "msi/entities/property.h"
#include "msi/entities/resources.h"
#include "msi/entities/row_entity_impl.h"
#include "msi/model/command.h"
#include "msi/model/error.h"
#include "msi/model/package.h"
#include "msi/model/text.h"

namespace Msi {

template class MsiRowEntity<ControlTableDescription, MsiControl>;
template class MsiRowEntity<DialogTableDescription, MsiDialog>;
template class MsiRowEntity<RadioButtonTableDescription, MsiRadioButton>;
template class MsiRowEntity<ComboBoxTableDescription, MsiComboBoxValue>;

namespace {

constexpr std::uint32_t kPackageModule = 0x6e1fbba0;

const char16_t* const kKindNames[] = {
    u"Billboard",      u"Bitmap",      u"CheckBox",         u"ComboBox",       u"DirectoryCombo", u"DirectoryList",
    u"Edit",           u"GroupBox",    u"Icon",             u"Line",           u"ListBox",        u"ListView",
    u"MaskedEdit",     u"PathEdit",    u"ProgressBar",      u"PushButton",     u"RadioButtonGroup",
    u"ScrollableText", u"SelectionTree", u"Text",           u"VolumeCostList", u"VolumeSelectCombo",
};

std::u16string orderText(std::int32_t order) { return toString(order); }

}  // namespace

MsiControl::MsiControl(MsiPackage* package) : MsiRowEntity(package) {}

MsiControl::MsiControl(MsiPackage* package, MsiDialog* dialog, const std::u16string& name, std::uint32_t kind)
    : MsiRowEntity(package), type_(kind), attributes_(0) {
  values_[0] = dialog ? dialog->name() : std::u16string();
  values_[1] = name;
}

std::uint32_t MsiControl::typeFromName(const std::u16string& name) {
  for (std::size_t i = 0; i < std::size(kKindNames); ++i)
    if (name == kKindNames[i]) return 1u << i;
  throw Error(MSI_LOCATION, kModule, 121, u"control type " + name);
}

std::u16string MsiControl::typeName(std::uint32_t kind) {
  for (std::size_t i = 0; i < std::size(kKindNames); ++i)
    if (kind == (1u << i)) return kKindNames[i];
  throw Error(MSI_LOCATION, kModule, 121, u"control kind " + toString(static_cast<std::int32_t>(kind), 16));
}

std::u16string MsiControl::controlId(const std::u16string& dialog, const std::u16string& control) {
  if (dialog.empty() || control.empty()) return {};
  return digestKey({&dialog, &control});
}

MsiDialog* MsiControl::dialog() { return package_->find<MsiDialog>(dialogName()); }

IMsiProperty* MsiControl::property() {
  const std::u16string& name = propertyName();
  return name.empty() ? nullptr : package_->property(name, false);
}

MsiControl* MsiControl::next() {
  return nextName().empty() ? nullptr : package_->find<MsiControl>(controlId(dialogName(), nextName()));
}

bool MsiControl::matches(const MsiRow& row) const {
  return columnOf(row, 0) == value(0) && columnOf(row, 1) == value(1);
}

void MsiControl::loadFrom(const MsiRow& row) {
  MsiRowEntity::loadFrom(row);
  type_ = typeFromName(values_[2]);
  x_ = toInt(values_[3]);
  y_ = toInt(values_[4]);
  width_ = toInt(values_[5]);
  height_ = toInt(values_[6]);
  attributes_ = optionalInt(values_[7]);
}

void MsiControl::writeTo(MsiRow& row) const {
  MsiRowEntity::writeTo(row);
  row.field(MsiRowEntity::name(2)) = typeName(type_);
  row.field(MsiRowEntity::name(3)) = toString(x_);
  row.field(MsiRowEntity::name(4)) = toString(y_);
  row.field(MsiRowEntity::name(5)) = toString(width_);
  row.field(MsiRowEntity::name(6)) = toString(height_);
  row.field(MsiRowEntity::name(7)) = attributes_ ? toString(*attributes_) : std::u16string();
}

std::u16string MsiControl::key() const {
  if (id_.empty()) id_ = controlId(value(0), value(1));
  return id_;
}

MsiDialog::MsiDialog(MsiPackage* package) : MsiRowEntity(package) {}

MsiDialog::MsiDialog(MsiPackage* package, const std::u16string& name) : MsiRowEntity(package), attributes_(0) {
  values_[0] = name;
}

MsiControl* MsiDialog::controlNamed(const std::u16string& control) {
  std::u16string id = MsiControl::controlId(name(), control);
  return id.empty() ? nullptr : package_->find<MsiControl>(id);
}

MsiControl* MsiDialog::firstControl() { return controlNamed(value(7)); }
MsiControl* MsiDialog::defaultControl() { return controlNamed(value(8)); }
MsiControl* MsiDialog::cancelControl() { return controlNamed(value(9)); }

std::unique_ptr<MsiIterator<MsiControl>> MsiDialog::controls(std::uint32_t mask) {
  std::list<std::u16string> keys;
  std::set<const MsiControl*> seen;
  for (MsiControl* c = firstControl(); c && seen.insert(c).second; c = c->next())
    if (c->type() & mask) keys.push_back(c->key());
  return std::make_unique<MsiOwnedKeyIterator<MsiControl>>(package_, std::move(keys));
}

template <class T>
T* MsiDialog::registerNew(std::unique_ptr<T> made) {
  if (made->key().empty() || !package_->add<MsiControl>(made.get())) return nullptr;
  return made.release();
}

MsiControl* MsiDialog::addControl(std::uint32_t kind, const std::u16string& control) {
  // The two kinds with rows of their own are made with their property.
  if (kind == MsiControl::ComboBox) return addComboBox(control, nullptr);
  if (kind == MsiControl::RadioButtonGroup) return addRadioButtonGroup(control, nullptr);
  MsiControl::typeName(kind);
  return registerNew(std::make_unique<MsiControl>(package_, this, control, kind));
}

MsiComboBox* MsiDialog::addComboBox(const std::u16string& control, IMsiProperty* property) {
  return registerNew(std::make_unique<MsiComboBox>(package_, this, control, MsiControl::ComboBox, property));
}

MsiRadioGroup* MsiDialog::addRadioButtonGroup(const std::u16string& control, IMsiProperty* property) {
  return registerNew(
      std::make_unique<MsiRadioGroup>(package_, this, control, MsiControl::RadioButtonGroup, property));
}

void MsiDialog::loadFrom(const MsiRow& row) {
  MsiRowEntity::loadFrom(row);
  hCentering_ = toInt(values_[1]);
  vCentering_ = toInt(values_[2]);
  width_ = toInt(values_[3]);
  height_ = toInt(values_[4]);
  attributes_ = optionalInt(values_[5]);
}

void MsiDialog::writeTo(MsiRow& row) const {
  MsiRowEntity::writeTo(row);
  row.field(MsiRowEntity::name(1)) = toString(hCentering_);
  row.field(MsiRowEntity::name(2)) = toString(vCentering_);
  row.field(MsiRowEntity::name(3)) = toString(width_);
  row.field(MsiRowEntity::name(4)) = toString(height_);
  row.field(MsiRowEntity::name(5)) = attributes_ ? toString(*attributes_) : std::u16string();
}

void MsiDialog::loaded() {
  if (!package_->hasTable(tableName<ControlTableDescription>())) return;
  MsiRecordset rows;
  MsiCommand select(package_->database());
  select.setText(
      u"SELECT `Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, `Attributes`, `Property`, `Text`, "
      u"`Control_Next`, `Help` FROM `Control` WHERE `Dialog_` = ?");
  select.bind(name());
  select.run(&rows);
  for (MsiRow* row : rows) {
    const std::u16string& type = columnValue<ControlTableDescription>(*row, 2);
    std::unique_ptr<MsiControl> control;
    if (type == kKindNames[3])
      control = std::make_unique<MsiComboBox>(package_);
    else if (type == kKindNames[16])
      control = std::make_unique<MsiRadioGroup>(package_);
    else
      control = std::make_unique<MsiControl>(package_);
    control->loadFrom(*row);
    control->loaded();
    control->unmarkModified();
    if (package_->add(control.get())) control.release();
  }
}

bool MsiRadioButton::matches(const MsiRow& row) const {
  return columnOf(row, 0) == values_[0] && columnOf(row, 1) == orderText(order_);
}

void MsiRadioButton::loadFrom(const MsiRow& row) {
  MsiRowEntity::loadFrom(row);
  order_ = toInt(values_[1]);
  x_ = toInt(values_[3]);
  y_ = toInt(values_[4]);
  width_ = toInt(values_[5]);
  height_ = toInt(values_[6]);
}

void MsiRadioButton::writeTo(MsiRow& row) const {
  MsiRowEntity::writeTo(row);
  row.field(MsiRowEntity::name(1)) = orderText(order_);
  row.field(MsiRowEntity::name(3)) = toString(x_);
  row.field(MsiRowEntity::name(4)) = toString(y_);
  row.field(MsiRowEntity::name(5)) = toString(width_);
  row.field(MsiRowEntity::name(6)) = toString(height_);
}

std::u16string MsiRadioButton::key() const {
  if (key_.empty() && !values_[0].empty()) key_ = digestKey({&values_[0]}, &order_);
  return key_;
}

bool MsiComboBoxValue::matches(const MsiRow& row) const {
  return columnOf(row, 0) == values_[0] && columnOf(row, 1) == orderText(order_);
}

void MsiComboBoxValue::loadFrom(const MsiRow& row) {
  MsiRowEntity::loadFrom(row);
  order_ = toInt(values_[1]);
}

void MsiComboBoxValue::writeTo(MsiRow& row) const {
  MsiRowEntity::writeTo(row);
  row.field(MsiRowEntity::name(1)) = orderText(order_);
}

std::u16string MsiComboBoxValue::key() const {
  if (key_.empty() && !values_[0].empty()) key_ = digestKey({&values_[0]}, &order_);
  return key_;
}

template <class Item>
MsiItemGroup<Item>::MsiItemGroup(MsiPackage* package, MsiDialog* dialog, const std::u16string& name,
                                 std::uint32_t kind, IMsiProperty* property)
    : MsiControl(package, dialog, name, kind) {
  values_[8] = property ? property->name() : std::u16string();
  loaded();
}

template <class Item>
bool MsiItemGroup<Item>::reset() {
  position_ = keys_.begin();
  valid_ = position_ != keys_.end();
  return valid_;
}

template <class Item>
void MsiItemGroup<Item>::next() {
  if (!valid_) return;
  if (++position_ == keys_.end()) valid_ = false;
}

template <class Item>
Item* MsiItemGroup<Item>::current() {
  return valid_ ? package_->template find<Item>(*position_) : nullptr;
}

template <class Item>
void MsiItemGroup<Item>::select(Item* item) {
  if (!item) return;
  package_->addProperty(propertyName(), item->value());
}

template <class Item>
void MsiItemGroup<Item>::loaded() {
  loadItems();
  // Loaded with its dialog or made for a property, the cursor starts on the first row.
  reset();
}

template <class Item>
void MsiItemGroup<Item>::loadItems() {
  using TD = typename Item::Description;
  // The rows are keyed by the property's name: a property without a Property
  // row of its own still has its buttons.
  if (propertyName().empty() || !package_->hasTable(tableName<TD>())) return;
  const MsiTableDescription& description = *Singleton<TD>::instance();
  std::u16string columns;
  for (std::size_t i = 0; i < description.columns().size(); ++i)
    columns += (i ? u", `" : u"`") + description.columnName(static_cast<std::int32_t>(i)) + u"`";
  MsiRecordset rows;
  MsiCommand select(package_->database());
  select.setText(u"SELECT " + columns + u" FROM `" + tableName<TD>() + u"` WHERE `Property` = ?");
  select.bind(propertyName());
  select.run(&rows);
  for (MsiRow* row : rows) {
    auto item = std::make_unique<Item>(package_);
    item->loadFrom(*row);
    item->loaded();
    item->unmarkModified();
    keys_.push_back(item->key());
    if (package_->add(item.get())) item.release();
  }
}

template class MsiItemGroup<MsiRadioButton>;
template class MsiItemGroup<MsiComboBoxValue>;

std::unique_ptr<MsiIterator<MsiDialog>> MsiPackage::dialogs() {
  if (dialogs_.empty() && hasTable(tableName<DialogTableDescription>())) {
    // Listed only once every dialog has loaded: a failure leaves the list
    // empty, to be read again at the next call.
    KeyList read;
    MsiTable copy = openTable<DialogTableDescription>(database_);
    copy.load();
    for (MsiRow* row : copy) {
      const std::u16string& name = columnValue<DialogTableDescription>(*row, 0);
      // One found before keeps its object and its controls.
      if (!identityMap<MsiDialog>().find(name)) {
        std::unique_ptr<MsiDialog> dialog(createFromRow<MsiDialog>(*row, this));
        dialog->loaded();
        if (!add(dialog.get())) continue;
        dialog.release()->unmarkModified();
      }
      if (!read.contains(name)) read.append(name);
    }
    dialogs_ = read;
  }
  return std::make_unique<MsiIterator<MsiDialog>>(this, &dialogs_.keys());
}

MsiDialog* MsiPackage::addDialog(const std::u16string& name) {
  dialogs();
  if (dialogs_.contains(name) || identityMap<MsiDialog>().find(name))
    throw Error(MSI_LOCATION, kPackageModule, 130, u"dialog " + name);
  auto made = std::make_unique<MsiDialog>(this, name);
  if (name.empty() || !add(made.get())) throw Error(MSI_LOCATION, kPackageModule, 131, u"dialog " + name);
  dialogs_.append(name);
  return made.release();
}

}  // namespace Msi
