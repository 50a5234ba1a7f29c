#include "network/uri.h"

#include "core/error.h"

namespace Network {
namespace {

class UriImpl final : public Uri {
 public:
  explicit UriImpl(const std::u16string& s);
  UriImpl(const Uri& other)
      : scheme_(other.scheme()),
        authority_(other.authority()),
        path_(other.path()),
        query_(other.query()),
        fragment_(other.fragment()),
        text_(other.text()) {}

  const std::u16string& scheme() const override { return scheme_; }
  const std::u16string& authority() const override { return authority_; }
  const std::u16string& path() const override { return path_; }
  const std::u16string& query() const override { return query_; }
  const std::u16string& fragment() const override { return fragment_; }
  std::u16string text() const override { return text_; }
  void removeFragment() override;
  std::unique_ptr<Uri> clone() const override { return std::make_unique<UriImpl>(*this); }

 private:
  std::u16string scheme_;
  std::u16string authority_;
  std::u16string path_;
  std::u16string query_;
  std::u16string fragment_;
  std::u16string text_;
};

UriImpl::UriImpl(const std::u16string& s) : text_(s) {
  constexpr auto npos = std::u16string::npos;
  const std::size_t colon = s.find(u':');
  // A colon in second place is a drive letter, as in C:\dir.
  if (colon == npos || colon == 1) {
    scheme_ = u"file";
    path_ = s;
    return;
  }
  scheme_ = s.substr(0, colon);
  // A text that ends inside the "//" is as malformed as one with other characters there.
  if (s.compare(colon + 1, 2, u"//") != 0) throw Common::Error(KV_SITE, kUriSyntaxError, s.c_str());
  const std::size_t start = colon + 3;
  const std::size_t slash = s.find(u'/', start);
  if (slash == npos) {
    authority_ = s.substr(start);
    return;
  }
  authority_ = s.substr(start, slash - start);
  const std::size_t pathStart = slash + 1;
  // The query is looked for first, so a "#" before a "?" stays in the path.
  std::size_t hash;
  const std::size_t question = s.find(u'?', pathStart);
  if (question != npos) {
    path_ = s.substr(pathStart, question - pathStart);
    hash = s.find(u'#', question + 1);
    query_ = s.substr(question + 1, hash == npos ? npos : hash - question - 1);
  } else {
    hash = s.find(u'#', pathStart);
    path_ = s.substr(pathStart, hash == npos ? npos : hash - pathStart);
  }
  if (hash != npos) fragment_ = s.substr(hash + 1);
}

void UriImpl::removeFragment() {
  if (fragment_.empty()) return;
  // Cut at the "#" that starts the fragment, not at the first one: a "#" kept in
  // the path must stay in the text too.
  text_.resize(text_.size() - fragment_.size() - 1);
  fragment_.clear();
}

}  // namespace

std::unique_ptr<Uri> createUri(const std::u16string& text) { return std::make_unique<UriImpl>(text); }

}  // namespace Network
