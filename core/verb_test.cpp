#include "core/verb.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/error.h"

namespace {

using namespace Processor;

// A log shared by the handlers and the control of one test.
std::vector<std::string> g_log;

struct Handler : VerbHandler {
  std::string tag;
  std::int32_t result;
  explicit Handler(std::string t, std::int32_t r = 0) : tag(std::move(t)), result(r) {}
  ~Handler() override { g_log.push_back("delete " + tag); }
  std::int32_t execute(const char* argument) override {
    g_log.push_back(tag + "(" + argument + ")");
    return result;
  }
  void update(VerbControl* control) override {
    g_log.push_back("update " + tag);
    control->check(true);
  }
};

struct Control : VerbControl {
  void enable(bool on) override { g_log.push_back(on ? "enable" : "disable"); }
  void check(bool on) override { g_log.push_back(on ? "check" : "uncheck"); }
  void setThirdState(bool) override {}
  void show(bool) override {}
  void setText(const char16_t*) override {}
};

class Verbs : public ::testing::Test {
 protected:
  void SetUp() override { g_log.clear(); }
};

TEST_F(Verbs, IdsFollowTheOrderNamesAreFirstSeenByAnyOperation) {
  RefPtr<VerbProcessor> p = VerbProcessor::create();
  Control control;
  EXPECT_EQ(p->getVerbId("open"), 1);
  EXPECT_EQ(p->execute("run", "x"), 0);  // unknown: registered, nothing runs
  p->update("close", &control);           // no handler: the control is disabled
  EXPECT_EQ(p->setVerbHandler("save", new Handler("save")), 4);
  EXPECT_EQ(p->getVerbId("run"), 2);
  EXPECT_EQ(p->getVerbId("close"), 3);
  EXPECT_EQ(p->getVerbId("open"), 1);
  EXPECT_EQ(p->getVerbId("Open"), 5);  // names keep their case
  EXPECT_EQ(g_log, std::vector<std::string>{"disable"});
}

TEST_F(Verbs, HandlersRunAndReplacingOneDeletesTheOld) {
  RefPtr<VerbProcessor> p = VerbProcessor::create();
  Control control;
  const std::int32_t id = p->setVerbHandler("print", new Handler("first", 7));
  EXPECT_EQ(p->execute(id, "a"), 7);
  EXPECT_EQ(p->execute("print", "b"), 7);
  EXPECT_EQ(p->setVerbHandler("print", new Handler("second", 8)), id);
  EXPECT_EQ(p->execute(id, "c"), 8);
  p->update(id, &control);
  EXPECT_EQ(p->execute(99, "d"), 0);  // an id nobody has
  p->update(99, &control);
  p.release();  // the handlers go with the processor
  EXPECT_EQ(g_log, (std::vector<std::string>{"first(a)", "first(b)", "delete first", "second(c)", "update second",
                                             "check", "disable", "delete second"}));
}

// A processor whose handler look-up answers every id, to show that with a
// delegate only names count.
struct Eager : VerbProcessorImpl {
  Handler any{"any", 5};
  VerbHandler* handlerOf(std::int32_t) override { return &any; }
};

TEST_F(Verbs, ADelegateTakesEveryVerbByNameAndUnknownIdsDoNothing) {
  RefPtr<VerbProcessor> target = VerbProcessor::create();
  target->getVerbId("zeta");  // the delegate's own ids differ from ours
  target->setVerbHandler("copy", new Handler("target copy", 3));
  RefPtr<Eager> front = makeRef<Eager>();
  Control control;
  EXPECT_EQ(front->execute(42, "x"), 5);  // without a delegate the handler runs
  front->setDelegate(target);
  const std::int32_t copy = front->getVerbId("copy");
  EXPECT_EQ(copy, 1);
  EXPECT_EQ(front->execute(copy, "y"), 3);
  EXPECT_EQ(front->execute(42, "z"), 0);  // no name: nothing, though a handler exists
  front->update(copy, &control);
  front->update(42, &control);  // no name: nothing at all
  EXPECT_EQ(front->execute("paste", "w"), 0);
  EXPECT_EQ(target->getVerbId("paste"), 3);  // the delegate registered the name
  front->setDelegate(nullptr);
  EXPECT_EQ(front->execute(copy, "v"), 5);
  EXPECT_EQ(g_log, (std::vector<std::string>{"any(x)", "target copy(y)", "update target copy", "check", "any(v)"}));
}

TEST_F(Verbs, MemberListsAreFreshEachTimeAndListVerbsInByteOrder) {
  RefPtr<VerbProcessor> p = VerbProcessor::create();
  for (const char* name : {"b", "a", "B", "_x"}) p->getVerbId(name);
  IfacePtr self = IfacePtr::of<VerbProcessor>(p.get());
  IfacePtr first = self.query(MemberList::interfaceId);
  IfacePtr second = self.query(MemberList::interfaceId);
  ASSERT_TRUE(first);
  EXPECT_NE(first.object(), second.object());
  EXPECT_EQ(first.metaClass()->id(), MemberList::interfaceId);
  EXPECT_TRUE(self.query(VerbProcessor::interfaceId));
  EXPECT_FALSE(self.query(Member::interfaceId));

  MemberList* list = first.as<MemberList>();
  EXPECT_STREQ(list->name(), "Processor:VerbProcessor");
  EXPECT_EQ(list->reserved(), nullptr);
  for (std::uint32_t id : {MemberList::interfaceId, MemberListInfo::interfaceId, IfaceContainer::interfaceId})
    EXPECT_TRUE(first.query(id)) << std::hex << id;
  EXPECT_FALSE(first.query(Method::interfaceId));

  std::unique_ptr<InterfaceIterator> it(list->iterator());
  std::vector<std::string> seen;
  for (; it->valid(); it->next()) {
    RefPtr<Interface> item = it->current();
    IfacePtr as_member = item->queryInterface(Member::interfaceId);
    seen.push_back(as_member.as<Member>()->name());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"B", "_x", "a", "b"}));
  it->next();  // stays at the end
  EXPECT_FALSE(it->valid());
  it->previous();
  EXPECT_TRUE(it->valid());
  for (int i = 0; i < 6; ++i) it->previous();  // stops at the first
  EXPECT_EQ(IfacePtr(it->current()->queryInterface(Member::interfaceId)).as<Member>()->id(), 3);

  RefPtr<Member> a1 = list->memberByName("a");
  RefPtr<Member> a2 = list->memberById(2);
  ASSERT_TRUE(a1 && a2);
  EXPECT_NE(a1.get(), a2.get());  // made afresh
  EXPECT_STREQ(a2->name(), "a");
  EXPECT_EQ(a1->id(), 2);
  EXPECT_EQ(a1->type().type, std::uint32_t{Variant::TBool});
  EXPECT_EQ(a1->type().reserved, 0u);
  EXPECT_EQ(list->memberByName("c"), nullptr);
  EXPECT_EQ(list->memberById(9), nullptr);
  EXPECT_EQ(list->memberList().get(), list);
}

TEST_F(Verbs, MethodsInvokeTheirVerbWithTheParameterText) {
  RefPtr<VerbProcessor> p = VerbProcessor::create();
  p->setVerbHandler("open", new Handler("open", 11));
  IfacePtr list = IfacePtr::of<VerbProcessor>(p.get()).query(MemberList::interfaceId);
  RefPtr<Member> member = list.as<MemberList>()->memberByName("open");
  ASSERT_TRUE(member);
  IfacePtr method = IfacePtr::of<Member>(member.get()).query(Method::interfaceId);
  ASSERT_TRUE(method);
  for (std::uint32_t id : {Method::interfaceId, MethodInfo::interfaceId, Member::interfaceId,
                           IfaceContainer::interfaceId, ParametrizedMember::interfaceId})
    EXPECT_TRUE(method.query(id)) << std::hex << id;
  EXPECT_FALSE(method.query(Parameter::interfaceId));
  Method* m = method.as<Method>();

  Variant result(std::int32_t{-5});
  EXPECT_TRUE(m->invoke(result));  // a fresh method passes an empty text
  EXPECT_EQ(result.type(), std::uint32_t{Variant::TULong});
  EXPECT_EQ(result.rawULong(), 11u);

  EXPECT_EQ(m->parameterCount(), 1);
  RefPtr<Parameter> parameter = m->parameter(0);
  ASSERT_TRUE(parameter);
  EXPECT_EQ(m->parameter(5).get(), parameter.get());  // whatever the index
  EXPECT_EQ(static_cast<ParameterInfo*>(m->parameterInfo(0).get()), static_cast<ParameterInfo*>(parameter.get()));
  EXPECT_STREQ(parameter->name(), "verbString");
  EXPECT_EQ(parameter->type().type, std::uint32_t{Variant::TIdentifier});
  EXPECT_EQ(parameter->flags(), 1);
  const Variant def = parameter->defaultValue();
  EXPECT_EQ(def.type(), std::uint32_t{Variant::TString});
  EXPECT_EQ(def.toStdString(), "");
  EXPECT_TRUE(parameter->setValue(Variant("C:\\file.txt")));
  const Variant value = parameter->value();
  EXPECT_EQ(value.type(), std::uint32_t{Variant::TIdentifier});
  EXPECT_EQ(*value.rawIdentifier(), "C:\\file.txt");
  EXPECT_TRUE(m->invoke(result));
  EXPECT_EQ(g_log, (std::vector<std::string>{"open()", "open(C:\\file.txt)"}));

  std::unique_ptr<InterfaceIterator> it(m->iterator());
  ASSERT_TRUE(it->valid());
  EXPECT_TRUE(it->current()->queryInterface(Parameter::interfaceId));
  it->next();
  EXPECT_FALSE(it->valid());
  it->next();
  it->previous();
  EXPECT_TRUE(it->valid());
}

TEST_F(Verbs, MethodMetaClassOffersItsBasesInOrder) {
  struct Names : MetaClassVisitor {
    std::vector<std::uint32_t> ids;
    bool visit(const IfacePtr& base) override {
      ids.push_back(base.metaClass()->id());
      return false;
    }
  } names;
  InterfaceMetaClass<Method>::instance()->visitBases(nullptr, names);
  EXPECT_EQ(names.ids, (std::vector<std::uint32_t>{MethodInfo::interfaceId, Member::interfaceId,
                                                   IfaceContainer::interfaceId, ParametrizedMember::interfaceId}));
}

}  // namespace
