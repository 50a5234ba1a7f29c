#include "core/object.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/error.h"
#include "core/interfaces.h"

namespace {

using Processor::IfacePtr;
using Processor::Interface;
using Processor::InterfaceMetaClass;
using Processor::MetaClass;
using Processor::RefObject;
using Processor::RefPtr;
using Processor::IfaceContainer;
using Processor::Member;
using Processor::Method;
using Processor::MethodInfo;
using Processor::ParametrizedMember;

// Answers every reflection interface of a method, as the reflection objects chain theirs.
class MethodImpl final : public Method {
 public:
  // The reflection operations are not what these tests look at.
  Processor::InterfaceIterator* iterator() override { return nullptr; }
  std::int32_t id() override { return 0; }
  const char* name() override { return ""; }
  Processor::TypeDescriptor type() override { return {}; }
  RefPtr<Processor::ParameterInfo> parameterInfo(std::int32_t) override { return {}; }
  std::int32_t parameterCount() override { return 0; }
  RefPtr<Processor::Parameter> parameter(std::int32_t) override { return {}; }
  bool invoke(Processor::Variant&) override { return false; }
  Processor::IfacePtr queryInterface(std::uint32_t id) override {
    switch (id) {
      case Member::interfaceId:
        return IfacePtr::of<Member>(this);
      case IfaceContainer::interfaceId:
        return IfacePtr::of<IfaceContainer>(this);
      case MethodInfo::interfaceId:
        return IfacePtr::of<MethodInfo>(this);
      case ParametrizedMember::interfaceId:
        return IfacePtr::of<ParametrizedMember>(this);
      case Method::interfaceId:
        return IfacePtr::of<Method>(this);
      default:
        return IfacePtr();
    }
  }
};

// Records its last release instead of deleting, so counts can be looked at
// after they reach zero.
class Probe final : public Member {
 public:
  std::int32_t id() override { return 0; }
  const char* name() override { return ""; }
  Processor::TypeDescriptor type() override { return {}; }
  std::atomic<int> lastReleases{0};
  std::atomic<std::thread::id> releasedOn{};
  void lastRelease() override {
    lastReleases.fetch_add(1);
    releasedOn.store(std::this_thread::get_id());
  }
};

std::int32_t countOf(const IfacePtr& p) { return p.refObject()->refCount(); }

TEST(RefObject, StartsWithTheCreatorsReferenceAndDeletesOnLastRelease) {
  static int destroyed;
  destroyed = 0;
  struct Counted : RefObject {
    ~Counted() override { ++destroyed; }
  };
  Counted* c = new Counted;
  EXPECT_EQ(c->refCount(), 1);
  c->addRef();
  c->release();
  EXPECT_EQ(destroyed, 0);
  c->release();  // no collector node: it goes at once
  EXPECT_EQ(destroyed, 1);
}

TEST(RefObject, AddRefIfAliveNeverRevivesAZeroCount) {
  Probe* p = new Probe;
  EXPECT_TRUE(p->addRefIfAlive());
  EXPECT_EQ(p->refCount(), 2);
  p->release();
  p->release();
  EXPECT_EQ(p->lastReleases.load(), 1);
  EXPECT_EQ(p->refCount(), 0);
  EXPECT_FALSE(p->addRefIfAlive());
  EXPECT_EQ(p->refCount(), 0);
  MetaClass* meta = InterfaceMetaClass<Member>::instance();
  EXPECT_FALSE(meta->addRefIfAlive(static_cast<Member*>(p)));
  EXPECT_FALSE(meta->addRefIfAlive(nullptr));
  EXPECT_EQ(p->refCount(), 0);
  delete p;
}

TEST(RefObject, LastReleaseRunsOnceOnTheReleasingThread) {
  Probe* p = new Probe;
  IfacePtr held = IfacePtr::adopt<Member>(p);
  EXPECT_EQ(held.metaClass(), InterfaceMetaClass<Member>::instance());
  std::thread::id releaser;
  std::thread t([&] {
    releaser = std::this_thread::get_id();
    IfacePtr mine(std::move(held));
  });
  t.join();
  EXPECT_EQ(p->lastReleases.load(), 1);
  EXPECT_EQ(p->releasedOn.load(), releaser);
  delete p;
}

TEST(MetaClass, QueryAndCastOnNullObjects) {
  MetaClass* meta = InterfaceMetaClass<Member>::instance();
  IfacePtr out = IfacePtr::adopt<Member>(new MethodImpl);  // overwritten below, which frees it
  meta->query(out, Member::interfaceId, nullptr);
  EXPECT_TRUE(out == Processor::nullIfacePtr);
  EXPECT_EQ(out.metaClass(), nullptr);

  meta->cast(out, Member::interfaceId, nullptr);
  EXPECT_EQ(out.object(), nullptr);
  EXPECT_EQ(out.metaClass(), meta);

  meta->cast(out, IfaceContainer::interfaceId, nullptr);
  EXPECT_TRUE(out == Processor::nullIfacePtr);
}

TEST(MetaClass, CastCountsButNeverAsksTheObject) {
  RefPtr<MethodImpl> m = Processor::makeRef<MethodImpl>();
  MetaClass* meta = InterfaceMetaClass<Method>::instance();
  Method* part = m.get();
  {
    IfacePtr out;
    meta->cast(out, Method::interfaceId, part);
    EXPECT_EQ(out.object(), part);
    EXPECT_EQ(m->refCount(), 2);
    // The object would answer Member, but cast does not ask.
    meta->cast(out, Member::interfaceId, part);
    EXPECT_TRUE(out.empty());
  }
  EXPECT_EQ(m->refCount(), 1);
}

TEST(MetaClass, QueryAnswersItselfAndAsksTheObjectForOtherIds) {
  RefPtr<MethodImpl> m = Processor::makeRef<MethodImpl>();
  IfacePtr method = IfacePtr::of<Method>(m.get());
  EXPECT_EQ(m->refCount(), 2);

  IfacePtr same = method.query(Method::interfaceId);
  EXPECT_EQ(same.object(), method.object());
  EXPECT_EQ(m->refCount(), 3);

  IfacePtr container = method.query(IfaceContainer::interfaceId);
  ASSERT_NE(container.as<IfaceContainer>(), nullptr);
  EXPECT_EQ(container.as<IfaceContainer>(), static_cast<IfaceContainer*>(m.get()));
  EXPECT_EQ(container.metaClass(), InterfaceMetaClass<IfaceContainer>::instance());
  EXPECT_EQ(container.refObject(), static_cast<RefObject*>(m.get()));
  EXPECT_EQ(m->refCount(), 4);

  EXPECT_TRUE(method.query(0x12345678u).empty());
  EXPECT_EQ(m->refCount(), 4);
  EXPECT_EQ(container.as<Method>(), nullptr);
  EXPECT_THROW(container.checked<Method>(), Common::Error);
  EXPECT_THROW(IfacePtr().checked<Method>(), Common::Error);

  RefPtr<ParametrizedMember> typed = method.queryAs<ParametrizedMember>();
  EXPECT_EQ(typed.get(), static_cast<ParametrizedMember*>(m.get()));
}

TEST(MetaClass, SingleInterfaceClassesAnswerOnlyTheirOwnId) {
  Probe* p = new Probe;
  IfacePtr own = p->queryInterface(Member::interfaceId);
  EXPECT_EQ(own.object(), static_cast<Member*>(p));
  EXPECT_EQ(p->refCount(), 2);
  EXPECT_TRUE(p->queryInterface(IfaceContainer::interfaceId).empty());
  EXPECT_EQ(p->metaClass(), InterfaceMetaClass<Member>::instance());
  own.reset();
  EXPECT_EQ(p->refCount(), 1);
  delete p;
}

TEST(MetaClass, SharedPartIsTheSameForEveryInterface) {
  RefPtr<MethodImpl> m = Processor::makeRef<MethodImpl>();
  RefObject* shared = m.get();
  auto check = [&](MetaClass* meta, void* part) {
    EXPECT_EQ(meta->toRefObject(part), shared);
    EXPECT_EQ(static_cast<void*>(meta->toInterface(part)), static_cast<void*>(shared));
    EXPECT_EQ(meta->toRefObject(nullptr), nullptr);
  };
  check(InterfaceMetaClass<Member>::instance(), static_cast<Member*>(m.get()));
  check(InterfaceMetaClass<IfaceContainer>::instance(), static_cast<IfaceContainer*>(m.get()));
  check(InterfaceMetaClass<Method>::instance(), static_cast<Method*>(m.get()));
}

TEST(MetaClass, NamesAreEmpty) {
  for (MetaClass* meta : {InterfaceMetaClass<Member>::instance(), InterfaceMetaClass<Method>::instance()})
    EXPECT_STREQ(meta->name(), "");
}

struct Recorder : Processor::MetaClassVisitor {
  std::vector<std::uint32_t> seen;
  std::uint32_t stopAt = 0;
  std::vector<void*> parts;
  bool visit(const IfacePtr& base) override {
    seen.push_back(base.metaClass()->id());
    parts.push_back(base.object());
    return base.metaClass()->id() == stopAt;
  }
};

TEST(MetaClass, VisitBasesWalksDepthFirstAndStopsAtTrue) {
  RefPtr<MethodImpl> m = Processor::makeRef<MethodImpl>();
  MetaClass* meta = InterfaceMetaClass<Method>::instance();
  Method* part = m.get();
  const std::vector<std::uint32_t> all = {MethodInfo::interfaceId, Member::interfaceId, IfaceContainer::interfaceId,
                                          ParametrizedMember::interfaceId};
  struct Case {
    std::uint32_t stopAt;
    std::size_t visits;
    bool result;
  };
  for (const Case& c : {Case{0, 4, false}, Case{MethodInfo::interfaceId, 1, true},
                        Case{IfaceContainer::interfaceId, 3, true}, Case{ParametrizedMember::interfaceId, 4, true}}) {
    Recorder r;
    r.stopAt = c.stopAt;
    EXPECT_EQ(meta->visitBases(part, r), c.result);
    ASSERT_EQ(r.seen.size(), c.visits);
    EXPECT_TRUE(std::equal(r.seen.begin(), r.seen.end(), all.begin()));
    EXPECT_EQ(r.parts[0], static_cast<void*>(static_cast<MethodInfo*>(m.get())));
  }
  EXPECT_EQ(m->refCount(), 1);  // the visits' pointers are gone again

  Recorder none;
  EXPECT_FALSE(InterfaceMetaClass<Member>::instance()->visitBases(static_cast<Member*>(m.get()), none));
  EXPECT_TRUE(none.seen.empty());

  Recorder nulls;
  EXPECT_FALSE(meta->visitBases(nullptr, nulls));
  EXPECT_EQ(nulls.seen.size(), 4u);
  for (void* p : nulls.parts) EXPECT_EQ(p, nullptr);
}

// The core runtime's interfaces: fixed ids, empty names, and the bases each
// walks (depth first, as listed).
template <class T>
MetaClass* meta() {
  return InterfaceMetaClass<T>::instance();
}

TEST(MetaClass, CoreInterfaceIdsAndBases) {
  struct Case {
    const char* name;
    MetaClass* meta;
    std::uint32_t id;
    std::vector<std::uint32_t> bases;
  };
  const Case cases[] = {
      {"Progress", meta<Processor::Progress>(), 0xa2584a10u, {}},
      {"Messenger", meta<Processor::Messenger>(), 0xa058be10u, {}},
      {"VerbProcessor", meta<Processor::VerbProcessor>(), 0xa50a0610u, {}},
      {"IfaceContainer", meta<IfaceContainer>(), 0xa0122e10u, {}},
      {"MemberList", meta<Processor::MemberList>(), 0x9cf3bde6u, {0x88b73de6u, 0xa0122e10u}},
      {"MemberListInfo", meta<Processor::MemberListInfo>(), 0x88b73de6u, {0xa0122e10u}},
      {"Member", meta<Member>(), 0xa0f3bde6u, {}},
      {"MethodInfo", meta<MethodInfo>(), 0x966b3de6u, {0xa0f3bde6u, 0xa0122e10u}},
      {"ParametrizedMember", meta<ParametrizedMember>(), 0x80f1c9e6u, {}},
      {"Method", meta<Method>(), 0x8d63bde6u, {0x966b3de6u, 0xa0f3bde6u, 0xa0122e10u, 0x80f1c9e6u}},
      {"ParameterInfo", meta<Processor::ParameterInfo>(), 0x96f849e6u, {}},
      {"Parameter", meta<Processor::Parameter>(), 0x9f01c9e6u, {0x96f849e6u}},
  };
  std::set<std::uint32_t> ids;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.meta->id(), c.id);
    EXPECT_STREQ(c.meta->name(), "");
    Recorder r;
    EXPECT_FALSE(c.meta->visitBases(nullptr, r));
    EXPECT_EQ(r.seen, c.bases);
    ids.insert(c.id);
  }
  EXPECT_EQ(ids.size(), std::size(cases));
}

// The verb processor's interface pointer is the object itself.
TEST(MetaClass, VerbProcessorPointerIsTheObject) {
  RefPtr<Processor::VerbProcessor> v = Processor::VerbProcessor::create();
  IfacePtr p = v->queryInterface(Processor::VerbProcessor::interfaceId);
  ASSERT_FALSE(p.empty());
  EXPECT_EQ(p.metaClass(), meta<Processor::VerbProcessor>());
  EXPECT_EQ(p.object(), static_cast<void*>(v.get()));
  EXPECT_EQ(static_cast<void*>(p.refObject()), static_cast<void*>(v.get()));
  EXPECT_EQ(v->refCount(), 2);
}

TEST(IfacePtr, CopyCountsMoveTransfersAssignmentReleases) {
  RefPtr<MethodImpl> m = Processor::makeRef<MethodImpl>();
  IfacePtr a = IfacePtr::of<Method>(m.get());
  EXPECT_EQ(countOf(a), 2);
  IfacePtr b = a;
  EXPECT_EQ(countOf(a), 3);
  IfacePtr c = std::move(b);
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(countOf(a), 3);
  c = a;  // same object: one released, one added
  EXPECT_EQ(countOf(a), 3);
  c = IfacePtr();
  EXPECT_EQ(countOf(a), 2);
  const auto& same = a;
  a = same;  // self-assignment
  EXPECT_EQ(countOf(a), 2);
  void* raw = a.detach();
  EXPECT_EQ(m->refCount(), 2);
  IfacePtr back = IfacePtr::adopt<Method>(static_cast<Method*>(raw));
  back.reset();
  EXPECT_EQ(m->refCount(), 1);
}

// Interfaces that only the registry tests use, so their meta classes are made there.
struct First : virtual Interface {
  PROCESSOR_INTERFACE(First, 0x71000101u)
};
struct Second : virtual Interface {
  PROCESSOR_INTERFACE(Second, 0x71000102u)
};
struct Raced : virtual Interface {
  PROCESSOR_INTERFACE(Raced, 0x71000201u)
};

// A meta class of no interface, for the registry's order.
struct BareMeta final : MetaClass {
  std::uint32_t id() const override { return 0; }
  void query(IfacePtr& out, std::uint32_t, void*) override { out = IfacePtr(); }
  void cast(IfacePtr& out, std::uint32_t, void*) override { out = IfacePtr(); }
  RefObject* toRefObject(void*) override { return nullptr; }
  Interface* toInterface(void*) override { return nullptr; }
  bool visitBases(void*, Processor::MetaClassVisitor&) override { return false; }
  void addRef(void*) override {}
  bool addRefIfAlive(void*) override { return false; }
  void release(void*) override {}
};

TEST(MetaClass, RegistryListsNewestFirstOnce) {
  MetaClass* first = InterfaceMetaClass<First>::instance();
  MetaClass* second = InterfaceMetaClass<Second>::instance();
  EXPECT_EQ(InterfaceMetaClass<First>::instance(), first);
  EXPECT_EQ(first->id(), 0x71000101u);
  // Made in this order (in an earlier round when the test repeats): the newer
  // one is nearer the head, and each is listed once.
  std::vector<MetaClass*> list;
  for (MetaClass* m = MetaClass::head(); m; m = m->next()) list.push_back(m);
  auto at = [&](MetaClass* m) { return std::find(list.begin(), list.end(), m); };
  EXPECT_EQ(std::count(list.begin(), list.end(), first), 1);
  EXPECT_EQ(std::count(list.begin(), list.end(), second), 1);
  EXPECT_LT(at(second), at(first));
  // One made now goes to the head; it stays listed until shutdown deletes it.
  MetaClass* fresh = new BareMeta;
  EXPECT_EQ(MetaClass::head(), fresh);
  EXPECT_EQ(fresh->next(), list.front());
}

TEST(MetaClass, ConcurrentFirstUseMakesOneInstance) {
  constexpr int kThreads = 8;
  std::atomic<int> ready{0};
  std::vector<MetaClass*> got(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) {
      }
      got[i] = InterfaceMetaClass<Raced>::instance();
    });
  }
  for (auto& t : threads) t.join();
  for (MetaClass* m : got) EXPECT_EQ(m, got[0]);
  int inList = 0;
  for (MetaClass* m = MetaClass::head(); m; m = m->next())
    if (m->id() == 0x71000201u) ++inList;
  EXPECT_EQ(inList, 1);
}

}  // namespace
