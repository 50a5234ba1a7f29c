#include "core/error.h"

#include <cstring>
#include <new>

#include "core/catalogue_block.h"
#include "platform/win32/windows.h"

namespace Common {

// ---------------------------------------------------------------------------
// Blocks

namespace {
constinit std::atomic<bool> allocationFails{false};

// Code-only records have a header and nothing else; the static out-of-memory
// record is one of them and must never reach the allocator's free.
void destroyCodeOnly(ErrorRecord* r) {
  if (r != &outOfMemoryErrorRecord) freeErrorRecordBlock(r);
}

void noText(const ErrorRecord*, std::u16string& out) { out.clear(); }
std::uint64_t noNumber(const ErrorRecord*, const char*) { return 0; }
const char* noNarrow(const ErrorRecord*, const char*) { return nullptr; }
const char16_t* noWide(const ErrorRecord*, const char*) { return nullptr; }
const char* noNames(const ErrorRecord*) { return ""; }

bool sameName(const char* a, const char* b) { return a && std::strcmp(a, b) == 0; }

constexpr ErrorRecordOps codeOnlyOps{destroyCodeOnly, cloneErrorRecord, noText, noNumber, noNarrow, noWide, noNames};
constexpr ErrorRecordOps narrowTextOps{freeErrorRecordBlock, cloneErrorRecord, narrowSlotText, noNumber, noNarrow, noWide, noNames};
constexpr ErrorRecordOps wideTextOps{freeErrorRecordBlock, cloneErrorRecord, wideSlotText, noNumber, noNarrow, noWide, noNames};

// Token kind: own wide text, one narrow field "token".
const char* tokenNarrow(const ErrorRecord* r, const char* name) {
  if (!sameName(name, "token")) return nullptr;
  return static_cast<const char*>(r->slotText(r->fieldSlots()[0]));
}
const char* tokenNames(const ErrorRecord*) { return "token"; }
constexpr ErrorRecordOps tokenOps{freeErrorRecordBlock, cloneErrorRecord, wideSlotText, noNumber, tokenNarrow, noWide, tokenNames};

// Enumeration-value kind: own wide text, narrow "ErrorValue" and "EnumTypeName".
const char* enumNarrow(const ErrorRecord* r, const char* name) {
  if (sameName(name, "ErrorValue")) return static_cast<const char*>(r->slotText(r->fieldSlots()[0]));
  if (sameName(name, "EnumTypeName")) return static_cast<const char*>(r->slotText(r->fieldSlots()[1]));
  return nullptr;
}
const char* enumNames(const ErrorRecord*) { return "ErrorValue,EnumTypeName"; }
constexpr ErrorRecordOps enumOps{freeErrorRecordBlock, cloneErrorRecord, wideSlotText, noNumber, enumNarrow, noWide, enumNames};

// System-error kind: the block is exactly the header and `size` holds the HRESULT.
void systemText(const ErrorRecord* r, std::u16string& out) {
  out = systemErrorText(static_cast<std::int32_t>(r->size));
}
std::uint64_t systemNumber(const ErrorRecord* r, const char* name) {
  return sameName(name, "code") ? r->size : 0;
}
const char* systemNames(const ErrorRecord*) { return "code"; }
ErrorRecord* cloneSystem(const ErrorRecord* r) {
  void* block = allocateErrorRecordBlock(sizeof(ErrorRecord));
  if (!block) return nullptr;
  auto* c = new (block) ErrorRecord{};
  c->count.store(1, std::memory_order_relaxed);
  c->code = r->code;
  c->cause = nullptr;
  c->ops = r->ops;
  c->site = r->site;
  c->size = r->size;
  c->textSlot = 0;
  return c;
}
constexpr ErrorRecordOps systemOps{freeErrorRecordBlock, cloneSystem, systemText, systemNumber, noNarrow, noWide, systemNames};

constexpr std::uint32_t systemErrorCode = 0xFFF0;
constexpr std::uint32_t outOfMemoryCode = 0xFFF2;

std::size_t textBytes(const RecordText& t) {
  if (!t.text || isCatalogueText(t.text)) return 0;
  if (t.wide) return (std::char_traits<char16_t>::length(static_cast<const char16_t*>(t.text)) + 1) * sizeof(char16_t);
  return std::strlen(static_cast<const char*>(t.text)) + 1;
}

// Wide copies start on an even offset so that they can be read in place.
std::size_t alignFor(const RecordText& t, std::size_t at) { return t.wide ? (at + 1) & ~std::size_t{1} : at; }

// Lays one text into the block at `at` (or refers to the catalogue) and returns its slot.
std::uintptr_t placeText(ErrorRecord* r, const RecordText& t, std::size_t& at) {
  if (!t.text) return 0;
  if (isCatalogueText(t.text)) return reinterpret_cast<std::uintptr_t>(t.text);
  at = alignFor(t, at);
  const std::size_t n = textBytes(t);
  std::memcpy(reinterpret_cast<unsigned char*>(r) + at, t.text, n);
  const std::uintptr_t slot = at;
  at += n;
  return slot;
}

}  // namespace

constinit ErrorRecord outOfMemoryErrorRecord{1, outOfMemoryCode, nullptr, &codeOnlyOps, 0, sizeof(ErrorRecord), 0};
constinit const Error noError;

void* allocateErrorRecordBlock(std::size_t bytes) noexcept {
  if (allocationFails.load(std::memory_order_relaxed)) return nullptr;
  return ::operator new(bytes, std::nothrow);
}

void freeErrorRecordBlock(ErrorRecord* r) noexcept {
  if (!r) return;
  r->~ErrorRecord();
  ::operator delete(static_cast<void*>(r));
}

void setErrorRecordAllocationFails(bool fails) noexcept { allocationFails.store(fails, std::memory_order_relaxed); }

bool errorRecordAllocationFails() noexcept { return allocationFails.load(std::memory_order_relaxed); }

const void* ErrorRecord::slotText(std::uintptr_t slot) const {
  if (slot == 0) return nullptr;
  if (slot < size) return reinterpret_cast<const unsigned char*>(this) + slot;
  return reinterpret_cast<const void*>(slot);
}

void wideSlotText(const ErrorRecord* r, std::u16string& out) {
  const auto* t = static_cast<const char16_t*>(r->slotText(r->textSlot));
  if (t)
    out.assign(t);
  else
    out.clear();
}

void narrowSlotText(const ErrorRecord* r, std::u16string& out) {
  out.clear();
  const auto* t = static_cast<const unsigned char*>(r->slotText(r->textSlot));
  if (!t) return;
  for (; *t; ++t) out.push_back(static_cast<char16_t>(*t));
}

// ---------------------------------------------------------------------------
// Builders

ErrorRecord* buildErrorRecord(const ErrorRecordOps* ops, std::uint64_t site, std::uint32_t code, RecordText ownText,
                              const RecordText* fields, unsigned fieldCount) {
  if (code == 0) return nullptr;
  std::size_t total = sizeof(ErrorRecord) + fieldCount * sizeof(std::uintptr_t);
  total = alignFor(ownText, total) + textBytes(ownText);
  for (unsigned i = 0; i < fieldCount; ++i) total = alignFor(fields[i], total) + textBytes(fields[i]);
  // Inline offsets must stay below the addresses that mark catalogue texts.
  if (total > 0xFFFFFFFFu) return &outOfMemoryErrorRecord;

  void* block = allocateErrorRecordBlock(total);
  if (!block) return &outOfMemoryErrorRecord;
  auto* r = new (block) ErrorRecord{};
  r->count.store(0, std::memory_order_relaxed);
  r->code = code;
  r->cause = nullptr;
  r->ops = ops;
  r->site = site;
  r->size = static_cast<std::uint32_t>(total);
  std::size_t at = sizeof(ErrorRecord) + fieldCount * sizeof(std::uintptr_t);
  r->textSlot = placeText(r, ownText, at);
  for (unsigned i = 0; i < fieldCount; ++i) r->fieldSlots()[i] = placeText(r, fields[i], at);
  return r;
}

ErrorRecord* makeCodeErrorRecord(std::uint64_t site, std::uint32_t code) {
  return buildErrorRecord(&codeOnlyOps, site, code, {nullptr, false}, nullptr, 0);
}

ErrorRecord* makeNarrowErrorRecord(std::uint64_t site, std::uint32_t code, const char* text) {
  return buildErrorRecord(&narrowTextOps, site, code, {text, false}, nullptr, 0);
}

ErrorRecord* makeWideErrorRecord(std::uint64_t site, std::uint32_t code, const char16_t* text) {
  return buildErrorRecord(&wideTextOps, site, code, {text, true}, nullptr, 0);
}

ErrorRecord* makeSystemErrorRecord(std::uint64_t site, std::int32_t hresult) {
  void* block = allocateErrorRecordBlock(sizeof(ErrorRecord));
  if (!block) return &outOfMemoryErrorRecord;
  auto* r = new (block) ErrorRecord{};
  r->count.store(0, std::memory_order_relaxed);
  r->code = systemErrorCode;
  r->cause = nullptr;
  r->ops = &systemOps;
  r->site = site;
  r->size = static_cast<std::uint32_t>(hresult);
  r->textSlot = 0;
  return r;
}

void makeTokenError(Error& out, std::uint64_t site, std::uint32_t code, const char16_t* text, const char* token) {
  const RecordText field{token, false};
  out = Error(buildErrorRecord(&tokenOps, site, code, {text, true}, &field, 1));
}

void makeEnumValueErrorRecord(Error& out, std::uint64_t site, std::uint32_t code, const char16_t* text,
                              const char* valueText, const char* enumName) {
  const RecordText fields[2] = {{valueText, false}, {enumName, false}};
  out = Error(buildErrorRecord(&enumOps, site, code, {text, true}, fields, 2));
}

ErrorRecord* cloneErrorRecord(const ErrorRecord* r) {
  void* block = allocateErrorRecordBlock(r->size);
  if (!block) return nullptr;
  std::memcpy(block, static_cast<const void*>(r), r->size);
  auto* c = static_cast<ErrorRecord*>(block);
  new (&c->count) std::atomic<std::uint32_t>(1);
  c->cause = nullptr;
  return c;
}

void addErrorRecordRef(ErrorRecord* r) {
  if (r) r->count.fetch_add(1, std::memory_order_relaxed);
}

void releaseErrorRecord(ErrorRecord* r) {
  while (r) {
    if (r->count.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    ErrorRecord* cause = r->cause;
    r->ops->destroy(r);
    r = cause;
  }
}

// ---------------------------------------------------------------------------
// Holder

Error::Error(std::uint64_t site, std::uint32_t code) : Error(makeCodeErrorRecord(site, code)) {}

Error::Error(std::uint64_t site, std::uint32_t code, const char* text) : Error(makeNarrowErrorRecord(site, code, text)) {}

Error::Error(std::uint64_t site, std::uint32_t code, const char16_t* text)
    : Error(makeWideErrorRecord(site, code, text)) {}

Error::Error(std::uint64_t site, std::uint32_t code, const char16_t* text, const char* token) : head_(nullptr) {
  makeTokenError(*this, site, code, text, token);
}

Error::Error(ErrorRecord* record) noexcept : head_(record) { addErrorRecordRef(head_); }

Error::Error(const Error& other) noexcept : head_(other.head_) { addErrorRecordRef(head_); }

Error& Error::operator=(const Error& other) noexcept {
  addErrorRecordRef(other.head_);
  ErrorRecord* old = head_;
  head_ = other.head_;
  releaseErrorRecord(old);
  return *this;
}

Error& Error::operator=(Error&& other) noexcept {
  if (this != &other) {
    ErrorRecord* old = head_;
    head_ = other.head_;
    other.head_ = nullptr;
    releaseErrorRecord(old);
  }
  return *this;
}

Error::~Error() { releaseErrorRecord(head_); }

void Error::clear() noexcept {
  ErrorRecord* old = head_;
  head_ = nullptr;
  releaseErrorRecord(old);
}

std::uint32_t Error::code() const noexcept { return head_ ? head_->code : 0; }

std::uint64_t Error::site() const noexcept { return head_ ? head_->site : 0; }

void Error::text(std::u16string& out) const {
  if (head_)
    head_->ops->text(head_, out);
  else
    out.clear();
}

Error Error::cause() const { return Error(head_ ? head_->cause : nullptr); }

void Error::setCause(const Error& cause) {
  ErrorRecord* c = cause.head_;
  addErrorRecordRef(c);
  if (!head_) {
    head_ = c;
    return;
  }
  // A count of 1 is ours alone: nobody else can raise it while we look.
  if (head_->count.load(std::memory_order_acquire) == 1) {
    ErrorRecord* old = head_->cause;
    head_->cause = c;
    releaseErrorRecord(old);
    return;
  }
  ErrorRecord* clone = head_->ops->clone(head_);
  if (!clone) {
    releaseErrorRecord(c);
    return;
  }
  clone->cause = c;
  ErrorRecord* old = head_;
  head_ = clone;
  releaseErrorRecord(old);
}

void Error::setWin32Cause(std::uint32_t win32Error) {
  const auto e = static_cast<std::int32_t>(win32Error);
  const std::int32_t hr = e <= 0 ? e : static_cast<std::int32_t>((win32Error & 0xFFFFu) | 0x80070000u);
  setCause(Error(makeSystemErrorRecord(KV_SITE, hr)));
}

void Error::setHResultCause(std::int32_t hr) { setCause(Error(makeSystemErrorRecord(KV_SITE, hr))); }

void Error::setNtStatusCause(std::int32_t status) {
  setCause(Error(makeSystemErrorRecord(KV_SITE, static_cast<std::int32_t>(static_cast<std::uint32_t>(status) | 0x10000000u))));
}

std::uint64_t Error::numberField(const char* name) const { return head_ ? head_->ops->numberField(head_, name) : 0; }

const char* Error::narrowField(const char* name) const { return head_ ? head_->ops->narrowField(head_, name) : nullptr; }

const char16_t* Error::wideField(const char* name) const { return head_ ? head_->ops->wideField(head_, name) : nullptr; }

const char* Error::fieldNames() const { return head_ ? head_->ops->fieldNames(head_) : ""; }

Error makeError(std::uint64_t site, std::uint32_t code, const char16_t* text) { return Error(site, code, text); }

// ---------------------------------------------------------------------------
// System texts

namespace {
constexpr DWORD systemMessageFlags =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;  // 0x1300
constexpr DWORD systemDefaultLanguage = 0x800;

std::u16string ansiSystemMessage(DWORD id) {
  std::u16string text;
  char* buffer = nullptr;
  const DWORD n =
      FormatMessageA(systemMessageFlags, nullptr, id, systemDefaultLanguage, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  if (n && buffer) {
    const int units = MultiByteToWideChar(CP_ACP, 0, buffer, static_cast<int>(n), nullptr, 0);
    if (units > 0) {
      text.resize(static_cast<std::size_t>(units));
      const int done = MultiByteToWideChar(CP_ACP, 0, buffer, static_cast<int>(n), text.data(), units);
      text.resize(done > 0 ? static_cast<std::size_t>(done) : 0);
    }
  }
  if (buffer) LocalFree(buffer);
  return text;
}

std::u16string wideSystemMessage(DWORD id) {
  std::u16string text;
  WCHAR* buffer = nullptr;
  const DWORD n =
      FormatMessageW(systemMessageFlags, nullptr, id, systemDefaultLanguage, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  if (n && buffer) text.assign(buffer, n);
  if (buffer) LocalFree(buffer);
  return text;
}
}  // namespace

std::u16string systemErrorText(std::int32_t hresult) {
  const auto id = static_cast<DWORD>(hresult);
  std::u16string text = (GetVersion() & 0x80000000u) ? ansiSystemMessage(id) : wideSystemMessage(id);
  trimSystemText(text);
  return text;
}

void trimSystemText(std::u16string& text) {
  std::erase(text, u'\r');
  if (!text.empty() && text.back() == u'\n') text.pop_back();
  if (!text.empty() && text.back() == u'.' && text.find(u'\n') == std::u16string::npos) text.pop_back();
}

}  // namespace Common

namespace Processor {
void throwNullReference() { throw Error(KV_SITE, 0x10001, "Attempt to use null reference."); }
}  // namespace Processor
