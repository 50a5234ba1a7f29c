// Dialogs, controls in tab order, radio groups and combo boxes, read from a
// package that msibuild makes from IDT texts; checked against msiinfo export
// and msidiff.
#include <algorithm>
#include <functional>
#include <set>
#include <sstream>

#include "msi/entities/dialog.h"
#include "msi/entities/entity_fixture.h"
#include "msi/entities/property.h"
#include "msi/model/error.h"
#include "msi/model/model_fixture.h"
#include "msi/model/package.h"

namespace {

using entity_test::all;
using entity_test::rows;
using model_test::narrow;
using model_test::run;
using Msi::MsiControl;
using Msi::MsiPackage;

const char kDialogHead[] =
    "Dialog\tHCentering\tVCentering\tWidth\tHeight\tAttributes\tTitle\tControl_First\tControl_Default\t"
    "Control_Cancel\ns72\ti2\ti2\ti2\ti2\tI4\tL128\ts50\tS50\tS50\nDialog\tDialog\n";
const char kControlHead[] =
    "Dialog_\tControl\tType\tX\tY\tWidth\tHeight\tAttributes\tProperty\tText\tControl_Next\tHelp\n"
    "s72\ts50\ts20\ti2\ti2\ti2\ti2\tI4\tS50\tL0\tS50\tL50\nControl\tDialog_\tControl\n";

std::map<std::string, std::string> uiTables(const std::string& extraControls = "") {
  return {
      {"Property", "Property\tValue\ns72\tl0\nProperty\tProperty\nProductName\tUI Demo\nMODE\tTypical\n"},
      {"Dialog", std::string(kDialogHead) +
                     "Main\t50\t50\t370\t270\t3\t[ProductName] Setup\tNext\tNext\tCancel\n"
                     "Second\t50\t40\t300\t200\t\tSecond\tFirst\t\t\n"
                     "P\t0\t0\t10\t10\t0\tP\tQR\t\t\n"
                     "PQ\t0\t0\t10\t10\t0\tPQ\tR\t\t\n"
                     "It's\t0\t0\t10\t10\t0\tQuoted\tOk\tOk\t\n"},
      {"Control", std::string(kControlHead) +
                      "Main\tTitle\tText\t15\t6\t200\t15\t196611\t\tWelcome\t\t\n"
                      "Main\tNext\tPushButton\t236\t243\t56\t17\t3\t\t&Next\tMode\t\n"
                      "Main\tMode\tRadioButtonGroup\t20\t60\t330\t50\t3\tMODE\t\tLangs\tPick one\n"
                      "Main\tLangs\tComboBox\t20\t120\t200\t16\t\tLANGS\t\tCancel\t\n"
                      // The chain comes back to its start, as tab chains do.
                      "Main\tCancel\tPushButton\t304\t243\t56\t17\t3\t\tCancel\tNext\t\n"
                      "Second\tFirst\tRadioButtonGroup\t10\t10\t100\t40\t0\tSETUPTYPE\t\tBack\t\n"
                      "Second\tBack\tPushButton\t10\t60\t56\t17\t3\t\t&Back\tGhost\t\n"
                      "P\tQR\tPushButton\t1\t1\t5\t5\t0\t\tp\t\t\n"
                      "PQ\tR\tPushButton\t2\t2\t5\t5\t0\t\tpq\t\t\n"
                      "It's\tOk\tPushButton\t3\t3\t5\t5\t0\t\tok\tPick\t\n"
                      "It's\tPick\tRadioButtonGroup\t3\t9\t5\t5\t0\tQ'P\t\t\t\n" +
                      extraControls},
      {"RadioButton",
       "Property\tOrder\tValue\tX\tY\tWidth\tHeight\tText\tHelp\ns72\ti2\ts64\ti2\ti2\ti2\ti2\tL64\tL50\n"
       "RadioButton\tProperty\tOrder\n"
       "MODE\t3\tCustom\t0\t40\t100\t15\t&Custom\t\nMODE\t1\tTypical\t0\t0\t100\t15\t&Typical\t\n"
       "MODE\t2\tComplete\t0\t20\t100\t15\tC&omplete\tAll of it\n"
       "SETUPTYPE\t1\ta\t0\t0\t10\t10\tA\t\nSETUPTYPE\t2\tb\t0\t12\t10\t10\tB\t\n"
       "Q'P\t1\tquoted\t0\t0\t1\t1\t\t\nQ\t1\tbare\t0\t0\t1\t1\t\t\n"},
      {"ComboBox",
       "Property\tOrder\tValue\tText\ns72\ti2\ts64\tL64\nComboBox\tProperty\tOrder\n"
       "LANGS\t1\ten\tEnglish\nLANGS\t2\tde\tGerman\n"},
      {"ControlEvent",
       "Dialog_\tControl_\tEvent\tArgument\tCondition\tOrdering\ns72\ts50\ts50\ts255\tS255\tI2\n"
       "ControlEvent\tDialog_\tControl_\tEvent\tArgument\tCondition\n"
       "Main\tNext\tNewDialog\tSecond\t1\t1\nMain\tCancel\tSpawnDialog\tCancelDlg\t1\t1\n"},
  };
}

std::vector<std::string> names(const std::vector<MsiControl*>& controls) {
  std::vector<std::string> out;
  for (MsiControl* c : controls) out.push_back(c ? narrow(c->name()) : "<null>");
  return out;
}

class DialogTest : public model_test::PackageWorld {
 protected:
  std::u16string buildUi(const std::string& extraControls = "") { return build("ui.msi", uiTables(extraControls)); }
  // The dialog's tab chain as msiinfo export gives it: from Control_First along
  // Control_Next until a name repeats or no row has it.
  std::vector<std::string> exportedChain(const std::string& dialog) {
    std::string first;
    for (const auto& r : rows(exportTable("ui.msi", "Dialog")))
      if (r[0] == dialog) first = r[7];
    std::map<std::string, std::string> next;
    for (const auto& r : rows(exportTable("ui.msi", "Control")))
      if (r[0] == dialog) next[r[1]] = r[10];
    std::vector<std::string> chain;
    for (std::string at = first; next.count(at) && std::find(chain.begin(), chain.end(), at) == chain.end();
         at = next[at])
      chain.push_back(at);
    return chain;
  }
  std::vector<std::string> exportedValues(const std::string& table, const std::string& property) {
    std::vector<std::string> out;
    for (const auto& r : rows(exportTable("ui.msi", table)))
      if (r[0] == property) out.push_back(r[2]);
    return out;
  }
};

TEST_F(DialogTest, DialogsLoadWithTheirControls) {
  auto package = MsiPackage::open(buildUi(), true);
  std::vector<std::string> listed;
  for (Msi::MsiDialog* d : all(package->dialogs())) listed.push_back(narrow(d->name()));
  std::vector<std::string> exported;
  for (const auto& r : rows(exportTable("ui.msi", "Dialog"))) exported.push_back(r[0]);
  EXPECT_EQ(listed, exported);

  Msi::MsiDialog* main = package->find<Msi::MsiDialog>(u"Main");
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->hCentering(), 50);
  EXPECT_EQ(main->width(), 370);
  EXPECT_EQ(main->height(), 270);
  EXPECT_EQ(main->attributes(), 3);
  EXPECT_EQ(main->title(), u"[ProductName] Setup");
  EXPECT_EQ(main->defaultControl()->name(), u"Next");
  EXPECT_EQ(main->cancelControl()->name(), u"Cancel");
  // Null attributes read as absent and stop nothing.
  Msi::MsiDialog* second = package->find<Msi::MsiDialog>(u"Second");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->attributes(), std::nullopt);
  EXPECT_EQ(second->defaultControl(), nullptr);
  MsiControl* langs = package->find<MsiControl>(MsiControl::controlId(u"Main", u"Langs"));
  ASSERT_NE(langs, nullptr);
  EXPECT_EQ(langs->attributes(), std::nullopt);
  EXPECT_EQ(langs->type(), MsiControl::ComboBox);
  EXPECT_EQ(langs->dialog(), main);
  EXPECT_EQ(langs->x(), 20);
  EXPECT_EQ(langs->height(), 16);
  MsiControl* mode = package->find<MsiControl>(MsiControl::controlId(u"Main", u"Mode"));
  ASSERT_NE(mode, nullptr);
  EXPECT_EQ(mode->help(), u"Pick one");
  EXPECT_EQ(mode->property(), package->property(u"MODE", false));
  EXPECT_EQ(langs->property(), nullptr);  // no Property row

  // Names are bound, not pasted: a quote finds its own rows.
  Msi::MsiDialog* quoted = package->find<Msi::MsiDialog>(u"It's");
  ASSERT_NE(quoted, nullptr);
  ASSERT_NE(quoted->firstControl(), nullptr);
  EXPECT_EQ(quoted->firstControl()->name(), u"Ok");
  auto* pick = dynamic_cast<Msi::MsiRadioGroup*>(quoted->radioGroups()->current());
  ASSERT_NE(pick, nullptr);
  ASSERT_EQ(pick->itemKeys().size(), 1u);
  EXPECT_EQ(pick->current()->value(), u"quoted");
}

TEST_F(DialogTest, KindsConvertBothWays) {
  struct Case {
    const char16_t* name;
    std::uint32_t bit;
  };
  const Case kinds[] = {{u"Billboard", 0x1},        {u"Bitmap", 0x2},          {u"CheckBox", 0x4},
                        {u"ComboBox", 0x8},         {u"DirectoryCombo", 0x10}, {u"DirectoryList", 0x20},
                        {u"Edit", 0x40},            {u"GroupBox", 0x80},       {u"Icon", 0x100},
                        {u"Line", 0x200},           {u"ListBox", 0x400},       {u"ListView", 0x800},
                        {u"MaskedEdit", 0x1000},    {u"PathEdit", 0x2000},     {u"ProgressBar", 0x4000},
                        {u"PushButton", 0x8000},    {u"RadioButtonGroup", 0x10000}, {u"ScrollableText", 0x20000},
                        {u"SelectionTree", 0x40000}, {u"Text", 0x80000},       {u"VolumeCostList", 0x100000},
                        {u"VolumeSelectCombo", 0x200000}};
  for (const Case& k : kinds) {
    EXPECT_EQ(MsiControl::typeFromName(k.name), k.bit) << narrow(k.name);
    EXPECT_EQ(MsiControl::typeName(k.bit), k.name);
  }
  for (const char16_t* bad : {u"pushbutton", u"", u"Button"}) {
    try {
      MsiControl::typeFromName(bad);
      ADD_FAILURE() << narrow(bad);
    } catch (const Msi::Error& e) {
      EXPECT_EQ(e.code(), 121u);
      EXPECT_EQ(e.module(), 0xa1d4b9e3u);
    }
  }
  for (std::uint32_t bad : {0u, 3u, 0x400000u, 0xFFFFFFFFu}) EXPECT_THROW(MsiControl::typeName(bad), Msi::Error) << bad;
}

TEST_F(DialogTest, TabChainInOrderFilteredByKind) {
  auto package = MsiPackage::open(buildUi(), true);
  Msi::MsiDialog* main = package->find<Msi::MsiDialog>(u"Main");
  ASSERT_NE(main, nullptr);
  // The chain loops back to Next: the walk ends there.
  EXPECT_EQ(names(all(main->controls(MsiControl::kAllKinds))), exportedChain("Main"));
  EXPECT_EQ(names(all(main->controls(MsiControl::kAllKinds))),
            (std::vector<std::string>{"Next", "Mode", "Langs", "Cancel"}));
  EXPECT_EQ(names(all(main->controls(MsiControl::PushButton))), (std::vector<std::string>{"Next", "Cancel"}));
  EXPECT_EQ(names(all(main->controls(MsiControl::PushButton | MsiControl::ComboBox))),
            (std::vector<std::string>{"Next", "Langs", "Cancel"}));
  EXPECT_EQ(names(all(main->radioGroups())), std::vector<std::string>{"Mode"});
  EXPECT_EQ(names(all(main->comboBoxes())), std::vector<std::string>{"Langs"});
  EXPECT_TRUE(all(main->controls(0)).empty());
  // A Control_Next that names no row ends the chain.
  Msi::MsiDialog* second = package->find<Msi::MsiDialog>(u"Second");
  EXPECT_EQ(names(all(second->controls(MsiControl::kAllKinds))), exportedChain("Second"));
  EXPECT_EQ(package->find<MsiControl>(MsiControl::controlId(u"Second", u"Back"))->next(), nullptr);

  // Joined without a separator these two ids were one, and one control was lost.
  MsiControl* qr = package->find<Msi::MsiDialog>(u"P")->firstControl();
  MsiControl* r = package->find<Msi::MsiDialog>(u"PQ")->firstControl();
  ASSERT_NE(qr, nullptr);
  ASSERT_NE(r, nullptr);
  EXPECT_NE(qr, r);
  EXPECT_EQ(qr->x(), 1);
  EXPECT_EQ(r->x(), 2);
}

TEST_F(DialogTest, LoadingTwiceKeepsOneObjectPerControl) {
  auto package = MsiPackage::open(buildUi(), true);
  Msi::MsiDialog* main = package->find<Msi::MsiDialog>(u"Main");
  MsiControl* next = main->firstControl();
  std::size_t controls = package->identityMap<MsiControl>().size();
  auto listed = all(package->dialogs());
  // The dialog found first is listed with its own object.
  EXPECT_NE(std::find(listed.begin(), listed.end(), main), listed.end());
  EXPECT_EQ(package->identityMap<MsiControl>().size(), std::size_t(rows(exportTable("ui.msi", "Control")).size()));
  EXPECT_GE(package->identityMap<MsiControl>().size(), controls);
  EXPECT_EQ(main->firstControl(), next);
}

TEST_F(DialogTest, RadioGroupsAndComboBoxesOwnTheirPropertysRows) {
  std::u16string path = buildUi();
  {
    auto package = MsiPackage::open(path, false);
    Msi::MsiDialog* main = package->find<Msi::MsiDialog>(u"Main");
    auto* mode = dynamic_cast<Msi::MsiRadioGroup*>(main->radioGroups()->current());
    ASSERT_NE(mode, nullptr);
    std::vector<std::string> values;
    for (mode->reset(); mode->valid(); mode->next()) values.push_back(narrow(mode->current()->value()));
    EXPECT_EQ(values, exportedValues("RadioButton", "MODE"));
    EXPECT_EQ(mode->current(), nullptr);  // past the last
    mode->reset();
    Msi::MsiRadioButton* button = mode->current();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(narrow(button->key()).size(), 32u);
    Msi::MsiRadioButton* complete = nullptr;
    for (mode->reset(); mode->valid(); mode->next())
      if (mode->current()->order() == 2) complete = mode->current();
    ASSERT_NE(complete, nullptr);
    EXPECT_EQ(complete->text(), u"C&omplete");
    EXPECT_EQ(complete->help(), u"All of it");
    EXPECT_EQ(complete->y(), 20);
    EXPECT_EQ(complete->width(), 100);

    Msi::IMsiProperty* property = package->property(u"MODE", false);
    auto* stored = dynamic_cast<Msi::MsiProperty*>(property);
    ASSERT_NE(stored, nullptr);
    EXPECT_FALSE(stored->isModified());
    mode->select(complete);
    EXPECT_EQ(property->value(), u"Complete");
    EXPECT_TRUE(stored->isModified());

    // A combo box whose property has no Property row still has its values;
    // selecting one makes the row.
    auto* langs = dynamic_cast<Msi::MsiComboBox*>(main->comboBoxes()->current());
    ASSERT_NE(langs, nullptr);
    std::vector<std::string> langValues;
    for (langs->reset(); langs->valid(); langs->next()) langValues.push_back(narrow(langs->current()->value()));
    EXPECT_EQ(langValues, exportedValues("ComboBox", "LANGS"));
    langs->reset();
    langs->next();
    EXPECT_EQ(langs->current()->text(), u"German");
    langs->select(langs->current());

    // The same for a radio group on another dialog.
    auto* setup = dynamic_cast<Msi::MsiRadioGroup*>(
        package->find<Msi::MsiDialog>(u"Second")->radioGroups()->current());
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ(setup->itemKeys().size(), 2u);
    package->commit();
  }
  std::string properties = exportTable("ui.msi", "Property");
  EXPECT_NE(properties.find("MODE\tComplete\n"), std::string::npos) << properties;
  EXPECT_NE(properties.find("LANGS\tde\n"), std::string::npos) << properties;
}

TEST_F(DialogTest, AddedDialogsAndControls) {
  auto package = MsiPackage::open(buildUi(), true);
  Msi::MsiDialog* made = package->addDialog(u"Fresh");
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->width(), 0);
  EXPECT_EQ(made->attributes(), 0);
  EXPECT_EQ(made->firstControl(), nullptr);
  EXPECT_TRUE(all(made->controls(MsiControl::kAllKinds)).empty());
  EXPECT_EQ(package->find<Msi::MsiDialog>(u"Fresh"), made);
  try {
    package->addDialog(u"Main");
    ADD_FAILURE();
  } catch (const Msi::Error& e) {
    EXPECT_EQ(e.code(), 130u);
  }

  MsiControl* ok = made->addPushButton(u"Ok");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->type(), MsiControl::PushButton);
  EXPECT_EQ(ok->x(), 0);
  EXPECT_EQ(ok->attributes(), 0);
  EXPECT_EQ(ok->dialog(), made);
  EXPECT_EQ(made->addPushButton(u"Ok"), nullptr);
  EXPECT_EQ(made->addEdit(u"Ok"), nullptr);  // one name, one control of the dialog
  EXPECT_EQ(made->addText(u""), nullptr);
  EXPECT_EQ(package->find<MsiControl>(MsiControl::controlId(u"Fresh", u"Ok")), ok);
  for (std::uint32_t bit = 1; bit <= 0x200000; bit <<= 1) {
    if (bit == MsiControl::PushButton) continue;
    MsiControl* added = made->addControl(bit, u"K" + Msi::MsiControl::typeName(bit));
    ASSERT_NE(added, nullptr) << bit;
    EXPECT_EQ(added->type(), bit);
  }

  // A group made for a property reads that property's buttons: the objects
  // the dialog's own group holds.
  Msi::MsiRadioGroup* group = made->addRadioButtonGroup(u"Pick", package->property(u"MODE", false));
  ASSERT_NE(group, nullptr);
  ASSERT_TRUE(group->valid());
  auto* loadedMode =
      dynamic_cast<Msi::MsiRadioGroup*>(package->find<Msi::MsiDialog>(u"Main")->radioGroups()->current());
  ASSERT_NE(loadedMode, nullptr);
  EXPECT_EQ(group->itemKeys(), loadedMode->itemKeys());
  EXPECT_EQ(group->current(), (loadedMode->reset(), loadedMode->current()));
  EXPECT_EQ(made->addRadioButtonGroup(u"Pick", nullptr), nullptr);
  Msi::MsiComboBox* empty = made->addComboBox(u"NoValues", nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_FALSE(empty->valid());
  // Selecting needs a property name to write into.
  Msi::MsiComboBoxValue loose(package.get());
  EXPECT_THROW(empty->select(&loose), Msi::Error);
}

TEST_F(DialogTest, AControlOfNoKnownTypeStopsItsDialog) {
  auto package = MsiPackage::open(
      buildUi("Main\tZzz\tBogus\t1\t1\t1\t1\t0\t\t\t\t\nMain\tAaa\tPushButton\t1\t1\t1\t1\t0\t\t\t\t\n"), true);
  try {
    package->find<Msi::MsiDialog>(u"Main");
    ADD_FAILURE();
  } catch (const Msi::Error& e) {
    EXPECT_EQ(e.code(), 121u);
  }
  // Other dialogs are untouched; the failed one is not registered.
  EXPECT_NE(package->find<Msi::MsiDialog>(u"Second"), nullptr);
  EXPECT_EQ(package->identityMap<Msi::MsiDialog>().find(u"Main"), nullptr);
  EXPECT_THROW(package->dialogs(), Msi::Error);
  EXPECT_THROW(package->dialogs(), Msi::Error);  // tried again, not half listed
}

TEST_F(DialogTest, EveryRowWritesBackUnchanged) {
  std::u16string path = buildUi();
  copy("ui.msi", "before.msi");
  {
    auto package = MsiPackage::open(path, false);
    entity_test::WriteBackCheck check(*package);
    std::size_t controls = 0;
    for (Msi::MsiDialog* d : all(package->dialogs())) check(d);
    for (const auto& [id, control] : package->identityMap<MsiControl>().entries()) {
      check(control);
      ++controls;
    }
    EXPECT_EQ(controls, rows(exportTable("ui.msi", "Control")).size());
    for (const auto& [key, button] : package->identityMap<Msi::MsiRadioButton>().entries()) check(button);
    // Every button of a group's property; "Q" has no group.
    auto buttons = rows(exportTable("ui.msi", "RadioButton"));
    EXPECT_EQ(package->identityMap<Msi::MsiRadioButton>().size(),
              std::count_if(buttons.begin(), buttons.end(), [](const auto& r) { return r[0] != "Q"; }));
    for (const auto& [key, value] : package->identityMap<Msi::MsiComboBoxValue>().entries()) check(value);
    EXPECT_EQ(package->identityMap<Msi::MsiComboBoxValue>().size(), rows(exportTable("ui.msi", "ComboBox")).size());
    check.saveAll();
    package->commit();
  }
  EXPECT_EQ(diff("before.msi", "ui.msi"), std::vector<std::string>{});
}

}  // namespace
