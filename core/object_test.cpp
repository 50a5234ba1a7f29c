#include "core/object.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/error.h"

namespace {

using Processor::IfacePtr;
using Processor::Interface;
using Processor::InterfaceMetaClass;
using Processor::MetaClass;
using Processor::RefObject;
using Processor::RefPtr;

// A small interface family shaped like the reflection interfaces: a method
// info with two bases, a method with two more.
class TMember : public virtual Interface {
  PROCESSOR_INTERFACE(TMember, 0x71000001u)
};
class TContainer : public virtual Interface {
  PROCESSOR_INTERFACE(TContainer, 0x71000002u)
};
class TMethodInfo : public virtual TMember, public virtual TContainer {
  PROCESSOR_INTERFACE(TMethodInfo, 0x71000003u, TMember, TContainer)
};
class TParametrized : public virtual Interface {
  PROCESSOR_INTERFACE(TParametrized, 0x71000004u)
};
class TMethod : public virtual TMethodInfo, public virtual TParametrized {
  PROCESSOR_INTERFACE(TMethod, 0x71000005u, TMethodInfo, TParametrized)
};

// Answers every interface of the family, as the reflection objects chain theirs.
class MethodImpl final : public TMethod {
 public:
  Processor::IfacePtr queryInterface(std::uint32_t id) override {
    switch (id) {
      case TMember::interfaceId:
        return IfacePtr::of<TMember>(this);
      case TContainer::interfaceId:
        return IfacePtr::of<TContainer>(this);
      case TMethodInfo::interfaceId:
        return IfacePtr::of<TMethodInfo>(this);
      case TParametrized::interfaceId:
        return IfacePtr::of<TParametrized>(this);
      case TMethod::interfaceId:
        return IfacePtr::of<TMethod>(this);
      default:
        return IfacePtr();
    }
  }
};

// Records its last release instead of deleting, so counts can be looked at
// after they reach zero.
class Probe final : public TMember {
 public:
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
  MetaClass* meta = InterfaceMetaClass<TMember>::instance();
  EXPECT_FALSE(meta->addRefIfAlive(static_cast<TMember*>(p)));
  EXPECT_FALSE(meta->addRefIfAlive(nullptr));
  EXPECT_EQ(p->refCount(), 0);
  delete p;
}

TEST(RefObject, LastReleaseRunsOnceOnTheReleasingThread) {
  Probe* p = new Probe;
  IfacePtr held = IfacePtr::adopt<TMember>(p);
  EXPECT_EQ(held.metaClass(), InterfaceMetaClass<TMember>::instance());
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
  MetaClass* meta = InterfaceMetaClass<TMember>::instance();
  IfacePtr out = IfacePtr::adopt<TMember>(new MethodImpl);  // overwritten below, which frees it
  meta->query(out, TMember::interfaceId, nullptr);
  EXPECT_TRUE(out == Processor::nullIfacePtr);
  EXPECT_EQ(out.metaClass(), nullptr);

  meta->cast(out, TMember::interfaceId, nullptr);
  EXPECT_EQ(out.object(), nullptr);
  EXPECT_EQ(out.metaClass(), meta);

  meta->cast(out, TContainer::interfaceId, nullptr);
  EXPECT_TRUE(out == Processor::nullIfacePtr);
}

TEST(MetaClass, CastCountsButNeverAsksTheObject) {
  RefPtr<MethodImpl> m = Processor::makeRef<MethodImpl>();
  MetaClass* meta = InterfaceMetaClass<TMethod>::instance();
  TMethod* part = m.get();
  {
    IfacePtr out;
    meta->cast(out, TMethod::interfaceId, part);
    EXPECT_EQ(out.object(), part);
    EXPECT_EQ(m->refCount(), 2);
    // The object would answer TMember, but cast does not ask.
    meta->cast(out, TMember::interfaceId, part);
    EXPECT_TRUE(out.empty());
  }
  EXPECT_EQ(m->refCount(), 1);
}

TEST(MetaClass, QueryAnswersItselfAndAsksTheObjectForOtherIds) {
  RefPtr<MethodImpl> m = Processor::makeRef<MethodImpl>();
  IfacePtr method = IfacePtr::of<TMethod>(m.get());
  EXPECT_EQ(m->refCount(), 2);

  IfacePtr same = method.query(TMethod::interfaceId);
  EXPECT_EQ(same.object(), method.object());
  EXPECT_EQ(m->refCount(), 3);

  IfacePtr container = method.query(TContainer::interfaceId);
  ASSERT_NE(container.as<TContainer>(), nullptr);
  EXPECT_EQ(container.as<TContainer>(), static_cast<TContainer*>(m.get()));
  EXPECT_EQ(container.metaClass(), InterfaceMetaClass<TContainer>::instance());
  EXPECT_EQ(container.refObject(), static_cast<RefObject*>(m.get()));
  EXPECT_EQ(m->refCount(), 4);

  EXPECT_TRUE(method.query(0x12345678u).empty());
  EXPECT_EQ(m->refCount(), 4);
  EXPECT_EQ(container.as<TMethod>(), nullptr);
  EXPECT_THROW(container.checked<TMethod>(), Common::Error);
  EXPECT_THROW(IfacePtr().checked<TMethod>(), Common::Error);

  RefPtr<TParametrized> typed = method.queryAs<TParametrized>();
  EXPECT_EQ(typed.get(), static_cast<TParametrized*>(m.get()));
}

TEST(MetaClass, SingleInterfaceClassesAnswerOnlyTheirOwnId) {
  Probe* p = new Probe;
  IfacePtr own = p->queryInterface(TMember::interfaceId);
  EXPECT_EQ(own.object(), static_cast<TMember*>(p));
  EXPECT_EQ(p->refCount(), 2);
  EXPECT_TRUE(p->queryInterface(TContainer::interfaceId).empty());
  EXPECT_EQ(p->metaClass(), InterfaceMetaClass<TMember>::instance());
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
  check(InterfaceMetaClass<TMember>::instance(), static_cast<TMember*>(m.get()));
  check(InterfaceMetaClass<TContainer>::instance(), static_cast<TContainer*>(m.get()));
  check(InterfaceMetaClass<TMethod>::instance(), static_cast<TMethod*>(m.get()));
}

TEST(MetaClass, NamesAreEmpty) {
  for (MetaClass* meta : {InterfaceMetaClass<TMember>::instance(), InterfaceMetaClass<TMethod>::instance()})
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
  MetaClass* meta = InterfaceMetaClass<TMethod>::instance();
  TMethod* part = m.get();
  const std::vector<std::uint32_t> all = {TMethodInfo::interfaceId, TMember::interfaceId, TContainer::interfaceId,
                                          TParametrized::interfaceId};
  struct Case {
    std::uint32_t stopAt;
    std::size_t visits;
    bool result;
  };
  for (const Case& c : {Case{0, 4, false}, Case{TMethodInfo::interfaceId, 1, true},
                        Case{TContainer::interfaceId, 3, true}, Case{TParametrized::interfaceId, 4, true}}) {
    Recorder r;
    r.stopAt = c.stopAt;
    EXPECT_EQ(meta->visitBases(part, r), c.result);
    ASSERT_EQ(r.seen.size(), c.visits);
    EXPECT_TRUE(std::equal(r.seen.begin(), r.seen.end(), all.begin()));
    EXPECT_EQ(r.parts[0], static_cast<void*>(static_cast<TMethodInfo*>(m.get())));
  }
  EXPECT_EQ(m->refCount(), 1);  // the visits' pointers are gone again

  Recorder none;
  EXPECT_FALSE(InterfaceMetaClass<TMember>::instance()->visitBases(static_cast<TMember*>(m.get()), none));
  EXPECT_TRUE(none.seen.empty());

  Recorder nulls;
  EXPECT_FALSE(meta->visitBases(nullptr, nulls));
  EXPECT_EQ(nulls.seen.size(), 4u);
  for (void* p : nulls.parts) EXPECT_EQ(p, nullptr);
}

TEST(IfacePtr, CopyCountsMoveTransfersAssignmentReleases) {
  RefPtr<MethodImpl> m = Processor::makeRef<MethodImpl>();
  IfacePtr a = IfacePtr::of<TMethod>(m.get());
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
  a = a;
  EXPECT_EQ(countOf(a), 2);
  void* raw = a.detach();
  EXPECT_EQ(m->refCount(), 2);
  IfacePtr back = IfacePtr::adopt<TMethod>(static_cast<TMethod*>(raw));
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

TEST(MetaClass, RegistryListsNewestFirstOnce) {
  MetaClass* first = InterfaceMetaClass<First>::instance();
  MetaClass* second = InterfaceMetaClass<Second>::instance();
  EXPECT_EQ(InterfaceMetaClass<First>::instance(), first);
  EXPECT_EQ(MetaClass::head(), second);
  EXPECT_EQ(second->next(), first);
  EXPECT_EQ(first->id(), 0x71000101u);
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
