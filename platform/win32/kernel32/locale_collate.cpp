// CompareStringW: linguistic order from ICU's collator for the locale.
#include <unicode/coll.h>
#include <unicode/uloc.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/kernel32/locale.h"
#include "platform/win32/kernel32/locale_internal.h"

namespace {

// One thread's collators, by locale and case folding: creating one costs far
// more than a comparison, and a listing's sort makes many comparisons.
struct CachedCollator {
  LCID lcid;
  bool fold;
  std::unique_ptr<icu::Collator> collator;  // null: the layer does not know the locale
};

icu::Collator* collator_for(LCID lcid, bool fold) {
  thread_local std::vector<CachedCollator> cache;
  for (const CachedCollator& c : cache)
    if (c.lcid == lcid && c.fold == fold) return c.collator.get();
  std::unique_ptr<icu::Collator> made;
  if (IsValidLocale(lcid, LCID_SUPPORTED)) {
    char name[ULOC_FULLNAME_CAPACITY] = "";
    UErrorCode status = U_ZERO_ERROR;
    if (lcid != LOCALE_INVARIANT) uloc_getLocaleForLCID(lcid, name, sizeof name, &status);
    if (U_FAILURE(status)) name[0] = 0;
    status = U_ZERO_ERROR;
    made.reset(icu::Collator::createInstance(icu::Locale(name), status));
    if (U_FAILURE(status)) made.reset();
    // Tertiary tells case apart, lower case first; secondary keeps accents but
    // not case.
    if (made) made->setStrength(fold ? icu::Collator::SECONDARY : icu::Collator::TERTIARY);
  }
  cache.push_back({lcid, fold, std::move(made)});
  return cache.back().collator.get();
}

std::size_t length_of(LPCWSTR s, int count) {
  if (count >= 0) return static_cast<std::size_t>(count);
  std::size_t n = 0;
  while (s[n]) ++n;
  return n;
}

// The word sort passes over hyphens and apostrophes, so that "co-op" stays
// with "coop"; the string sort counts them as the symbols they are. Ignoring
// case, sharp s is ss (ICU's root order keeps it apart at the accent level).
constexpr std::uint64_t kWordMarks = (std::uint64_t{1} << u'-') | (std::uint64_t{1} << u'\'');

template <bool Word, bool Fold>
bool special(char16_t c) {
  if (c < 64) return Word && ((kWordMarks >> c) & 1);
  return Fold && (c == u'\u00df' || c == u'\u1e9e');
}

// A text with its special characters handled, in `buffer` (grown, never
// shrunk) when there are any.
template <bool Word, bool Fold>
std::u16string_view prepared(std::u16string_view s, std::vector<char16_t>& buffer) {
  const char16_t* p = s.data();
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n && !special<Word, Fold>(p[i])) ++i;
  if (i == n) return s;
  if (buffer.size() < 2 * n) buffer.resize(2 * n);
  char16_t* out = buffer.data();
  for (std::size_t k = 0; k < i; ++k) *out++ = p[k];
  for (; i < n; ++i) {
    const char16_t c = p[i];
    if (!special<Word, Fold>(c)) {
      *out++ = c;
    } else if (c >= 64) {  // sharp s
      *out++ = u's';
      *out++ = u's';
    }
  }
  return {buffer.data(), static_cast<std::size_t>(out - buffer.data())};
}

void prepare(std::u16string_view& a, std::u16string_view& b, bool word, bool fold) {
  thread_local std::vector<char16_t> buffer_a, buffer_b;
  if (word && fold) {
    a = prepared<true, true>(a, buffer_a);
    b = prepared<true, true>(b, buffer_b);
  } else if (word) {
    a = prepared<true, false>(a, buffer_a);
    b = prepared<true, false>(b, buffer_b);
  } else if (fold) {
    a = prepared<false, true>(a, buffer_a);
    b = prepared<false, true>(b, buffer_b);
  }
}

}  // namespace

int CompareStringW(LCID Locale, DWORD dwCmpFlags, LPCWSTR lpString1, int cchCount1, LPCWSTR lpString2,
                   int cchCount2) {
  if (!lpString1 || !lpString2) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (dwCmpFlags & ~DWORD{NORM_IGNORECASE | SORT_STRINGSORT}) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  icu::Collator* collator = collator_for(win32::resolve_lcid(Locale), (dwCmpFlags & NORM_IGNORECASE) != 0);
  if (!collator) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string_view a(lpString1, length_of(lpString1, cchCount1));
  std::u16string_view b(lpString2, length_of(lpString2, cchCount2));
  if (a == b) return CSTR_EQUAL;
  const bool word = !(dwCmpFlags & SORT_STRINGSORT), fold = (dwCmpFlags & NORM_IGNORECASE) != 0;
  prepare(a, b, word, fold);
  UErrorCode status = U_ZERO_ERROR;
  const UCollationResult r = collator->compare(a.data(), static_cast<int32_t>(a.size()), b.data(),
                                               static_cast<int32_t>(b.size()), status);
  if (U_FAILURE(status)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  return r == UCOL_LESS ? CSTR_LESS_THAN : r == UCOL_EQUAL ? CSTR_EQUAL : CSTR_GREATER_THAN;
}
