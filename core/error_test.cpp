#include "core/error.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/catalogue_block.h"
#include "platform/win32/windows.h"

using Common::Error;
using Common::ErrorRecord;

namespace {

std::uint32_t countOf(const Error& e) { return e.record()->count.load(); }

// A fake catalogue: texts laid out in one block as the loader lays them out.
struct FakeCatalogue {
  char16_t block[32] = u"Disk full\0Second";
  FakeCatalogue() { Common::setCatalogueBlock(block, sizeof(block)); }
  ~FakeCatalogue() { Common::setCatalogueBlock(nullptr, 0); }
  const char16_t* first() const { return block; }
  const char16_t* second() const { return block + 10; }
};

// Allocation failure for the length of a scope.
struct NoMemory {
  NoMemory() { Common::setErrorRecordAllocationFails(true); }
  ~NoMemory() { Common::setErrorRecordAllocationFails(false); }
};

// A record kind that counts how often its records are destroyed.
int destroyed = 0;
void countingDestroy(ErrorRecord* r) {
  ++destroyed;
  Common::freeErrorRecordBlock(r);
}
std::uint64_t noNumber(const ErrorRecord*, const char*) { return 0; }
const char* noNarrow(const ErrorRecord*, const char*) { return nullptr; }
const char16_t* noWide(const ErrorRecord*, const char*) { return nullptr; }
const char* noNames(const ErrorRecord*) { return ""; }
const Common::ErrorRecordOps countingOps{countingDestroy, Common::cloneErrorRecord, Common::wideSlotText, noNumber,
                                         noNarrow,        noWide,                    noNames};

ErrorRecord* countingRecord(std::uint32_t code) {
  return Common::buildErrorRecord(&countingOps, KV_SITE, code, {u"counted", true}, nullptr, 0);
}

}  // namespace

TEST(ErrorHolder, IsOnePointer) {
  static_assert(sizeof(Error) == sizeof(void*));
  static_assert(sizeof(Processor::Error) == sizeof(void*));
  EXPECT_FALSE(Common::noError);
  EXPECT_EQ(Common::noError.code(), 0u);
}

TEST(ErrorHolder, CodeZeroBuildsNothing) {
  std::vector<Error> cases;
  cases.emplace_back(KV_SITE, 0);
  cases.emplace_back(KV_SITE, 0, "narrow");
  cases.emplace_back(KV_SITE, 0, u"wide");
  cases.emplace_back(KV_SITE, 0, u"wide", "token");
  cases.push_back(Common::makeError(KV_SITE, 0, u"made"));
  Error e;
  Common::makeEnumValueErrorRecord(e, KV_SITE, 0, u"enum", "7", "Colour");
  cases.push_back(e);
  for (const Error& c : cases) {
    EXPECT_FALSE(c);
    EXPECT_EQ(c.code(), 0u);
    EXPECT_EQ(c.text(), u"");
  }
  EXPECT_EQ(Common::makeCodeErrorRecord(KV_SITE, 0), nullptr);
  EXPECT_EQ(Common::makeWideErrorRecord(KV_SITE, 0, u"x"), nullptr);
}

TEST(ErrorHolder, TextsOfTheBasicKinds) {
  struct Case {
    Error e;
    std::uint32_t code;
    std::u16string text;
  } cases[] = {
      {Error(KV_SITE, 0x40007), 0x40007, u""},
      {Error(KV_SITE, 0x40008, "abc"), 0x40008, u"abc"},
      {Error(KV_SITE, 0x40009, "caf\xE9"), 0x40009, u"caf\u00E9"},  // bytes widened by value
      {Error(KV_SITE, 0x4000A, u"\u20AC wide"), 0x4000A, u"\u20AC wide"},
      {Error(KV_SITE, 0x4000B, static_cast<const char16_t*>(nullptr)), 0x4000B, u""},
      {Error(KV_SITE, 0x4000C, static_cast<const char*>(nullptr)), 0x4000C, u""},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(c.e);
    EXPECT_EQ(c.e.code(), c.code);
    EXPECT_EQ(c.e.text(), c.text);
    EXPECT_STREQ(c.e.fieldNames(), "");
    EXPECT_EQ(c.e.numberField("code"), 0u);
    EXPECT_FALSE(c.e.cause());
  }
  EXPECT_EQ(Error(KV_SITE, 1, static_cast<const char16_t*>(nullptr)).record()->textSlot, 0u);
}

TEST(ErrorHolder, TextReplacesTheOutput) {
  std::u16string out = u"old";
  Error(KV_SITE, 5, u"new").text(out);
  EXPECT_EQ(out, u"new");
  Error().text(out);
  EXPECT_EQ(out, u"");
}

TEST(ErrorHolder, CatalogueTextsAreKeptByAddress) {
  FakeCatalogue cat;
  Error kept(KV_SITE, 0x40001, cat.second());
  EXPECT_EQ(kept.record()->textSlot, reinterpret_cast<std::uintptr_t>(cat.second()));
  EXPECT_GT(kept.record()->textSlot, kept.record()->size);
  EXPECT_EQ(kept.record()->size, sizeof(ErrorRecord));  // nothing copied
  EXPECT_EQ(kept.text(), u"Second");

  std::u16string heap(cat.second());
  Error copied(KV_SITE, 0x40001, heap.c_str());
  EXPECT_LT(copied.record()->textSlot, copied.record()->size);
  EXPECT_NE(copied.record()->textSlot, 0u);
  heap.assign(u"XXXXXX");
  EXPECT_EQ(copied.text(), u"Second");

  // Clones keep catalogue addresses and move inline copies with the block.
  ErrorRecord* c = Common::cloneErrorRecord(kept.record());
  EXPECT_EQ(c->textSlot, kept.record()->textSlot);
  Error(c).text(heap);  // takes the clone's count from 1 to 2 and back
  EXPECT_EQ(heap, u"Second");
  Common::releaseErrorRecord(c);
}

TEST(CatalogueBlock, Bounds) {
  EXPECT_FALSE(Common::isCatalogueText(nullptr));
  FakeCatalogue cat;
  const auto* bytes = reinterpret_cast<const unsigned char*>(cat.block);
  EXPECT_TRUE(Common::isCatalogueText(cat.first()));
  EXPECT_TRUE(Common::isCatalogueText(bytes + sizeof(cat.block) - 1));
  EXPECT_FALSE(Common::isCatalogueText(bytes + sizeof(cat.block)));  // the end is outside
  EXPECT_FALSE(Common::isCatalogueText(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(bytes) - 1)));
  Common::setCatalogueBlock(nullptr, 0);
  EXPECT_FALSE(Common::isCatalogueText(cat.first()));
}

TEST(ErrorFields, TokenAndEnumerationKinds) {
  Error token(KV_SITE, 0x10055, u"Bad token", "<abc>");
  EXPECT_EQ(token.text(), u"Bad token");
  EXPECT_STREQ(token.fieldNames(), "token");
  EXPECT_STREQ(token.narrowField("token"), "<abc>");
  EXPECT_EQ(token.narrowField("Token"), nullptr);  // names compare case-sensitively
  EXPECT_EQ(token.narrowField("tok"), nullptr);
  EXPECT_EQ(token.narrowField("tokens"), nullptr);
  EXPECT_EQ(token.wideField("token"), nullptr);
  EXPECT_EQ(token.numberField("token"), 0u);

  Error en;
  Common::makeEnumValueErrorRecord(en, KV_SITE, 0x10073, u"No name", "17", "Shade");
  EXPECT_EQ(countOf(en), 1u);
  EXPECT_EQ(en.code(), 0x10073u);
  EXPECT_EQ(en.text(), u"No name");
  EXPECT_STREQ(en.fieldNames(), "ErrorValue,EnumTypeName");
  EXPECT_STREQ(en.narrowField("ErrorValue"), "17");
  EXPECT_STREQ(en.narrowField("EnumTypeName"), "Shade");
  EXPECT_EQ(en.narrowField(nullptr), nullptr);

  Error nullToken(KV_SITE, 0x10055, u"t", nullptr);
  EXPECT_EQ(nullToken.narrowField("token"), nullptr);
}

TEST(ErrorFields, GenericBuilderMixesNarrowWideAndCatalogueTexts) {
  FakeCatalogue cat;
  const Common::RecordText fields[] = {{"f", false}, {u"file\u00E9", true}, {nullptr, true}, {cat.first(), true}};
  ErrorRecord* r = Common::buildErrorRecord(&countingOps, KV_SITE, 0x40002, {"x", false}, fields, 4);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->count.load(), 0u);
  const std::uintptr_t* s = r->fieldSlots();
  EXPECT_STREQ(static_cast<const char*>(r->slotText(s[0])), "f");
  const auto* w = static_cast<const char16_t*>(r->slotText(s[1]));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(w) % alignof(char16_t), 0u);
  EXPECT_EQ(std::u16string(w), u"file\u00E9");
  EXPECT_EQ(s[2], 0u);
  EXPECT_EQ(r->slotText(s[3]), cat.first());
  destroyed = 0;
  Error(r).clear();
  EXPECT_EQ(destroyed, 1);
}

TEST(ErrorHolder, CopyAssignAndRelease) {
  destroyed = 0;
  {
    Error a(countingRecord(1));
    EXPECT_EQ(countOf(a), 1u);
    Error b = a;
    EXPECT_EQ(countOf(a), 2u);
    const Error& same = b;
    b = same;  // self-assignment keeps the record alive
    EXPECT_EQ(countOf(a), 2u);
    Error c(countingRecord(2));
    c = a;  // releases the old head of c
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(countOf(a), 3u);
    Error d(std::move(c));
    EXPECT_FALSE(c);
    EXPECT_EQ(countOf(a), 3u);
  }
  EXPECT_EQ(destroyed, 2);
}

TEST(ErrorCause, OnEmptyHolderTakesTheCause) {
  Error cause(KV_SITE, 0x40003, u"cause");
  Error e;
  e.setCause(cause);
  EXPECT_EQ(e.record(), cause.record());
  EXPECT_EQ(countOf(cause), 2u);
}

TEST(ErrorCause, SoleOwnerReplacesItsCauseInPlace) {
  destroyed = 0;
  Error e(KV_SITE, 0x40004, u"outer");
  ErrorRecord* head = e.record();
  e.setCause(Error(countingRecord(7)));
  EXPECT_EQ(e.record(), head);
  EXPECT_EQ(e.cause().code(), 7u);
  e.setCause(Error(countingRecord(8)));
  EXPECT_EQ(e.record(), head);
  EXPECT_EQ(destroyed, 1);  // the old cause went
  EXPECT_EQ(e.cause().code(), 8u);
  EXPECT_EQ(e.cause().text(), u"counted");
}

TEST(ErrorCause, SharedHeadIsClonedAndOtherHoldersKeepTheirView) {
  Error e(KV_SITE, 0x40005, u"outer");
  e.setCause(Error(KV_SITE, 0x40006, u"first cause"));
  Error other = e;
  e.setCause(Error(KV_SITE, 0x40007, u"second cause"));

  EXPECT_NE(e.record(), other.record());
  EXPECT_EQ(e.code(), 0x40005u);
  EXPECT_EQ(e.text(), u"outer");
  EXPECT_EQ(e.site(), other.site());
  EXPECT_EQ(e.cause().code(), 0x40007u);
  EXPECT_EQ(other.cause().code(), 0x40006u);
  EXPECT_EQ(countOf(e), 1u);
  EXPECT_EQ(countOf(other), 1u);
}

TEST(ErrorCause, ItselfAsCauseMakesNoCycle) {
  Error e(KV_SITE, 0x40008, u"self");
  ErrorRecord* head = e.record();
  e.setCause(e);
  EXPECT_NE(e.record(), head);
  EXPECT_EQ(e.cause().record(), head);
  EXPECT_FALSE(e.cause().cause());
}

TEST(ErrorCause, ChainReleaseFreesEachLinkHeldOnce) {
  destroyed = 0;
  {
    Error head(countingRecord(1));
    Error middle(countingRecord(2));
    middle.setCause(Error(countingRecord(3)));
    head.setCause(middle);
    middle.clear();  // every link now held once
  }
  EXPECT_EQ(destroyed, 3);

  destroyed = 0;
  Error keep;
  {
    Error head(countingRecord(1));
    Error middle(countingRecord(2));
    middle.setCause(Error(countingRecord(3)));
    head.setCause(middle);
    keep = middle;
    middle.clear();
  }
  EXPECT_EQ(destroyed, 1);  // only the head
  EXPECT_EQ(keep.code(), 2u);
  EXPECT_EQ(keep.cause().code(), 3u);
  keep.clear();
  EXPECT_EQ(destroyed, 3);
}

TEST(ErrorCause, SystemCausesStoreTheirHResult) {
  struct Case {
    const char* what;
    void (*attach)(Error&);
    std::uint32_t stored;
  } cases[] = {
      {"win32 5", [](Error& e) { e.setWin32Cause(5); }, 0x80070005u},
      {"win32 0", [](Error& e) { e.setWin32Cause(0); }, 0u},
      {"win32 high bits dropped", [](Error& e) { e.setWin32Cause(0x12345); }, 0x80072345u},
      {"win32 already negative", [](Error& e) { e.setWin32Cause(0x80004005u); }, 0x80004005u},
      {"hresult", [](Error& e) { e.setHResultCause(static_cast<std::int32_t>(0x8000FFFFu)); }, 0x8000FFFFu},
      {"ntstatus", [](Error& e) { e.setNtStatusCause(static_cast<std::int32_t>(0xC0000022u)); }, 0xD0000022u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Error e(KV_SITE, 0x10002, u"wrapped");
    c.attach(e);
    Error cause = e.cause();
    ASSERT_TRUE(cause);
    EXPECT_EQ(cause.code(), 0xFFF0u);
    EXPECT_EQ(cause.numberField("code"), c.stored);
    EXPECT_EQ(cause.numberField("Code"), 0u);
    EXPECT_STREQ(cause.fieldNames(), "code");
    EXPECT_EQ(cause.record()->size, c.stored);
    EXPECT_EQ(countOf(cause), 2u);  // the outer record's link and ours
  }
  // On an empty holder the system record becomes the error itself.
  Error bare;
  bare.setWin32Cause(2);
  EXPECT_EQ(bare.code(), 0xFFF0u);
  EXPECT_EQ(countOf(bare), 1u);
}

TEST(ErrorCause, SystemRecordClonesWhenShared) {
  Error sys;
  sys.setWin32Cause(5);
  Error other = sys;
  sys.setCause(Error(KV_SITE, 0x40001, u"later"));
  EXPECT_NE(sys.record(), other.record());
  EXPECT_EQ(sys.numberField("code"), 0x80070005u);
  EXPECT_EQ(sys.cause().code(), 0x40001u);
  EXPECT_FALSE(other.cause());
}

TEST(SystemText, Trimming) {
  struct Case {
    std::u16string in, out;
  } cases[] = {
      {u"Access is denied.\r\n", u"Access is denied"},
      {u"Line one.\r\nLine two.\r\n", u"Line one.\nLine two."},
      {u"No ending", u"No ending"},
      {u"Ends in dot.", u"Ends in dot"},
      {u"Two feeds\n\n", u"Two feeds\n"},
      {u"\r\r", u""},
      {u".", u""},
      {u"", u""},
  };
  for (const Case& c : cases) {
    std::u16string t = c.in;
    Common::trimSystemText(t);
    EXPECT_EQ(t, c.out);
  }
}

TEST(SystemText, ComesFromTheSystemTable) {
  EXPECT_EQ(Common::systemErrorText(static_cast<std::int32_t>(0x80070005u)), u"Access is denied");
  Error e;
  e.setWin32Cause(2);
  EXPECT_EQ(e.text(), u"The system cannot find the file specified");
  EXPECT_EQ(Common::systemErrorText(static_cast<std::int32_t>(0x8007FFFEu)), u"");  // unknown: empty
}

TEST(SystemText, Windows9xTakesTheAnsiRoute) {
  struct PlayWindows98 {
    PlayWindows98() { setenv("KV_WINDOWS_VERSION", "98", 1); }
    ~PlayWindows98() { unsetenv("KV_WINDOWS_VERSION"); }
  } play;
  ASSERT_NE(GetVersion() & 0x80000000u, 0u);
  EXPECT_EQ(Common::systemErrorText(static_cast<std::int32_t>(0x80070005u)), u"Access is denied");
  EXPECT_EQ(Common::systemErrorText(static_cast<std::int32_t>(0x8007FFFEu)), u"");
}

TEST(OutOfMemory, EveryBuilderStillGivesAnError) {
  const std::uint32_t before = Common::outOfMemoryErrorRecord.count.load();
  {
    NoMemory nm;
    std::vector<Error> cases;
    cases.emplace_back(KV_SITE, 1);
    cases.emplace_back(KV_SITE, 1, "narrow");
    cases.emplace_back(KV_SITE, 1, u"wide");
    cases.emplace_back(KV_SITE, 1, u"wide", "token");
    cases.push_back(Common::makeError(KV_SITE, 1, u"made"));
    Error en;
    Common::makeEnumValueErrorRecord(en, KV_SITE, 1, u"e", "v", "n");
    cases.push_back(en);
    cases.emplace_back(Common::makeSystemErrorRecord(KV_SITE, 5));
    const Common::RecordText f{"x", false};
    cases.emplace_back(Common::buildErrorRecord(&countingOps, KV_SITE, 1, {nullptr, false}, &f, 1));
    Error sys;
    sys.setWin32Cause(5);
    cases.push_back(sys);
    for (const Error& c : cases) {
      EXPECT_EQ(c.code(), 0xFFF2u);
      EXPECT_EQ(c.record(), &Common::outOfMemoryErrorRecord);
      EXPECT_EQ(c.text(), u"");
      EXPECT_EQ(c.site(), 0u);
    }
    // Attaching to a shared head needs a clone; without memory the error stays as it was.
    Error shared = cases[0];
    shared.setCause(Error(KV_SITE, 2));
    EXPECT_EQ(shared.record(), &Common::outOfMemoryErrorRecord);
    EXPECT_FALSE(shared.cause());
  }
  EXPECT_EQ(Common::outOfMemoryErrorRecord.count.load(), before);  // never freed, counts balance

  // With memory back, a cause can be hung on it through a clone.
  Error oom(&Common::outOfMemoryErrorRecord);
  oom.setCause(Error(KV_SITE, 3));
  EXPECT_NE(oom.record(), &Common::outOfMemoryErrorRecord);
  EXPECT_EQ(oom.code(), 0xFFF2u);
  EXPECT_EQ(oom.cause().code(), 3u);
}

TEST(ErrorHolder, NullReferenceThrowsProcessorError) {
  try {
    Processor::throwNullReference();
    FAIL();
  } catch (const Processor::Error& e) {
    EXPECT_EQ(e.code(), 0x10001u);
    EXPECT_EQ(e.text(), u"Attempt to use null reference.");
  }
  EXPECT_THROW(Processor::throwNullReference(), Common::Error);
}

TEST(ErrorHolder, SiteTags) {
  const std::uint64_t a = KV_SITE, b = KV_SITE;
  const std::uint64_t c = KV_SITE;
  EXPECT_EQ(a, b);       // one line, one tag
  EXPECT_EQ(c - a, 1u);  // nearby lines, nearby tags
  EXPECT_EQ(a >> 32, c >> 32);
  EXPECT_NE(a >> 32, Common::makeSite("other.cpp", 1) >> 32);
  EXPECT_EQ(Error(a, 9).site(), a);
}
