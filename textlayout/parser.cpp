// The markup parser: tags, entities, literal stretches and line feeds; the tag
// table; the tag results.
#include <fx.h>

#include <memory>

#include "platform/fox/line_break.h"
#include "textlayout/formats.h"
#include "textlayout/layout.h"

using namespace FX;

namespace {

struct TagTable {
  std::map<FXWString, FXKTextFormat*> map;
  ~TagTable() {
    for (auto& [name, format] : map) delete format;
    map.clear();
  }
};

TagTable& table() {
  static TagTable t;
  return t;
}

bool tableFilled = false;

void fillTable() {
  auto& m = table().map;
  auto add = [&](const char16_t* name, FXKTextFormat* f) { m.emplace(FXWString(name), f); };
  add(u"text", new FXKTextFormatSimple(0, 0, 0, 0));
  add(u"kml:text", new FXKTextFormatSimple(0, 0, 11, 0));
  add(u"left", new FXKTextFormatSimple(0, 3, 11, 0));
  add(u"center", new FXKTextFormatSimple(2, 3, 11, 0));
  add(u"center_y", new FXKTextFormatSimple(16, 48, 11, 0));
  add(u"width", new FXKTextFormatSimple(3, 3, 11, 0));
  add(u"justify", new FXKTextFormatSimple(3, 3, 11, 0));
  add(u"right", new FXKTextFormatSimple(1, 1, 11, 0));
  add(u"bold", new FXKTextFormatSimpleOutline(512, 0, 0, 0));
  add(u"b", new FXKTextFormatSimpleOutline(512, 0, 0, 0));
  add(u"italic", new FXKTextFormatSimpleOutline(1024, 0, 0, 0));
  add(u"i", new FXKTextFormatSimpleOutline(1024, 0, 0, 0));
  add(u"shadow", new FXKTextFormatSimpleOutline(4096, 0, 0, 0));
  add(u"underline", new FXKTextFormatSimpleOutline(2048, 0, 0, 0));
  add(u"u", new FXKTextFormatSimpleOutline(2048, 0, 0, 0));
  add(u"nowrap", new FXKTextFormatSimple(32768, 0, 10, 0));
  add(u"nobr", new FXKTextFormatSimple(32768, 0, 10, 0));
  add(u"\\n", new FXKTextFormatSimple(0, 0, 0, 1));
  add(u"endl", new FXKTextFormatSimple(0, 0, 0, 1));
  add(u"br", new FXKTextFormatSimple(0, 0, 0, 1));
  add(u"indent", new FXKTextFormatIndent);
  add(u"background", new FXKTextFormatBackground);
  add(u"foreground", new FXKTextFormatForeground);
  add(u"backcolor", new FXKTextFormatBackColor);
  add(u"backimage", new FXKTextFormatBackImage);
  add(u"bgimage", new FXKTextFormatBackImage);
  add(u"textcolor", new FXKTextFormatTextColor);
  add(u"link", new FXKTextFormatLink);
  add(u"a", new FXKTextFormatLink);
  add(u"hotkey", new FXKTextFormatHotkey);
  add(u"tabpoint", new FXKTextFormatTabpoint);
  add(u"tab", new FXKTextFormatTab);
  add(u"row", new FXKTextFormatRow);
  add(u"tr", new FXKTextFormatRow);
  add(u"column", new FXKTextFormatColumn);
  add(u"col", new FXKTextFormatColumn);
  add(u"td", new FXKTextFormatColumn);
  add(u"table", new FXKTextFormatTable);
  add(u"layer", new FXKTextFormatLayer);
  add(u"div", new FXKTextFormatDiv);
  add(u"font", new FXKTextFormatFont);
  add(u"image", new FXKTextFormatImage);
  add(u"img", new FXKTextFormatImage);
  add(u"animation", new FXKTextFormatAnimation);
  add(u"icon", new FXKTextFormatIcon);
  add(u"waterimage", new FXKTextFormatWaterImage);
  add(u"separator", new FXKTextFormatSeparator);
  add(u"hr", new FXKTextFormatSeparator);
  add(u"vpad", new FXKTextFormatVPad);
  add(u"anchor", new FXKTextFormatAnchor);
  add(u"p", new FXKTextFormatParagraph);
  add(u"tag", new FXKTextFormatTag);
  add(u"control", new FXKTextFormatControl);
  add(u"html", new FXKTextFormatHTML);
  add(u"style", new FXKTextFormatStyle);
  add(u"icon-src", new FXKTextFormatBinaryIconSource);
  add(u"icon-overlay", new FXKTextFormatBinaryIconOverlay);
  add(u"context", new FXKTextFormatContext);
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

}  // namespace

std::map<FXWString, FXKTextFormat*>& FXKTextLayout::tagTable() {
  if (!tableFilled) {
    tableFilled = true;
    fillTable();
  }
  return table().map;
}

FXKTextFormat* FXKTextLayout::findFormat(const char* name) {
  if (!name) return nullptr;
  return findFormatByName(name);
}

FXKTextFormat* FXKTextLayout::findFormatByName(const std::string& name) {
  const FXWString wide = FXWString::fromUtf8(name.c_str(), static_cast<int>(name.size()));
  auto& t = tagTable();
  if (auto it = t.find(wide); it != t.end()) return it->second;
  text_.append(u'<');
  text_.append(wide);
  text_.append(u'>');
  return nullptr;
}

// ---------------------------------------------------------------- reset

void FXKTextLayout::resetText() {
  passValid_ = false;
  viewLeft_ = viewTop_ = viewWidth_ = viewHeight_ = 0;
  text_.clear();
  segments_.clear();
  deleteObjects();
  lines_.clear();
  previousLines_.clear();
  lineCount_ = 0;
  styles_.clear();
  widthCache_.clear();
  heightCache_.clear();
  minWidth_ = maxWidth_ = 0;
  tooltips_.clear();
  inlineTooltips_.clear();
  rootContext_.children.clear();
  currentContext_ = nullptr;
  contextIds_.clear();
  blockIds_.clear();
  anchors_.clear();
  links_.clear();
  linkStack_.clear();
  binaryIconMode_ = 0;
  hotBlock_ = previousHot_ = hoveredBlock_ = nullptr;
  firstVisible_ = lastVisible_ = nullptr;
  focusedLink_ = nullptr;
  hoveredLink_ = -1;
  selStart_ = selEnd_ = selAnchor_ = 0;
  blockCounter_ = 0;
  resetRootBlock();
  resetRuns();
  current_ = openBlock(nullptr, 0, 0);
  anchors_.push_back(anchorentry{0, -1, -1, -1, {}, 0, nullptr});
  links_.push_back(linkentry{0, -1, -1, -1, {}, 1, nullptr});
  anchorCursor_ = linkCursor_ = 0;
}

// ---------------------------------------------------------------- main loop

bool FXKTextLayout::setText(const FXWString& markup) {
  resetText();
  bool inTag = false, inTooltip = false, inEntity = false, literal = false;
  std::int32_t tagStart = 0;
  FXWString tipName, tipBody, entity;
  enum { AfterText = 0, LineStart = 1, AfterBlock = 4 } lf = LineStart;
  const std::int32_t n = markup.length();
  const char16_t* m = markup.text();
  // The markers are private to the layout text: one written in the markup
  // would pose as an object or a block end that has nothing behind it.
  const auto appendPlain = [this](char16_t c) {
    if (c == TextMarker::kObject) {
      text_.append(u'\uFFFD');
    } else if (c == TextMarker::kBlock) {
      appendLineBreak(-1);
    } else {
      text_.append(c);
    }
  };

  for (std::int32_t i = 0; i < n; ++i) {
    const char16_t ch = m[i];
    if (inTooltip) tipBody.append(ch);
    if (inEntity) {
      const std::int32_t len = entity.length();
      if (len == 0 && ch == u'#') {
        entity.append(ch);
        continue;
      }
      if (len >= 1 && len <= 5 && ch >= u'0' && ch <= u'9') {
        entity.append(ch);
        continue;
      }
      inEntity = false;
      if (ch == u';' && len > 2) {
        std::uint32_t code = 0;
        for (std::int32_t k = 1; k < len; ++k) code = code * 10 + (entity[k] - u'0');
        if (!inTooltip) appendPlain(static_cast<char16_t>(code & 0xFFFF));
        continue;
      }
      if (!inTooltip) {
        text_.append(u'&');
        text_.append(entity);
      }
    }
    switch (ch) {
      case u'\n':
        if (current_ && (current_->flags & kBlockHtml)) break;
        if (lf != AfterBlock) appendLineBreak(-1);
        lf = LineStart;
        break;
      case u'&':
        if (inTag) break;
        inEntity = true;
        entity.clear();
        break;
      case u'<':
        if (literal) goto ordinary;
        if (inTag) goto endTag;
        inTag = true;
        tagStart = i + 1;
        break;
      case u'>':
        if (literal || !inTag) goto ordinary;
        goto endTag;
      case TextMarker::kLiteral:
        literal = !literal;
        break;
      default:
      ordinary:
        lf = AfterText;
        if (!inTag && !inTooltip) appendPlain(ch);
        break;
      endTag: {
        const char16_t* tag = m + tagStart;
        const std::int32_t len = i - tagStart;
        const std::u16string_view view(tag, static_cast<std::size_t>(len));
        FXWString tokens[kMaxTokens];
        tagcontext ctx;
        ctx.layout = this;
        ctx.style = &style_;
        ctx.tokens = tokens;
        ctx.current = &current_;
        ctx.position = text_.length();
        ctx.anchorCursor = &anchorCursor_;
        ctx.linkCursor = &linkCursor_;
        if (view.substr(0, 7) == u"tooltip") {
          inTooltip = true;
          tipName.clear();
          tipBody.clear();
          const std::size_t at = view.find(u"name");
          if (at != std::u16string_view::npos) {
            const std::u16string_view rest = view.substr(at);
            std::size_t q1 = rest.find(u'\'');
            if (q1 == std::u16string_view::npos) q1 = rest.find(u'"');
            if (q1 != std::u16string_view::npos) {
              const std::u16string_view after = rest.substr(q1 + 1);
              std::size_t q2 = after.find(u'\'');
              if (q2 == std::u16string_view::npos) q2 = after.find(u'"');
              if (q2 != std::u16string_view::npos) tipName = FXWString(after.substr(0, q2));
            }
          }
        } else if (view.substr(0, 8) == u"/tooltip") {
          inTooltip = false;
          addTooltip(tipName, tipBody);
          tipName.clear();
          tipBody.clear();
        } else if (!inTooltip) {
          const std::int32_t result = parseTag(tag, len, ctx);
          if (applyTagResult(result, ctx)) lf = AfterBlock;
        }
        inTag = false;
        break;
      }
    }
  }
  finishText();
  return true;
}

std::int32_t FXKTextLayout::parseTag(const char16_t* text, std::int32_t length, tagcontext& ctx) {
  FXWString* tokens = ctx.tokens;
  std::int32_t last = 0;
  bool closing = false, selfClosing = false;
  if (length > 0 && text[0] == u'/') {
    closing = true;
    tokens[0].assign(text + 1, length - 1);
  } else {
    if (length > 0 && text[length - 1] == u'/') {
      selfClosing = true;
      --length;
    }
    char16_t quote = 0;
    for (std::int32_t i = 0; i < length; ++i) {
      const char16_t c = text[i];
      if (c == u'\'' || c == u'"' || c == TextMarker::kLiteral) {
        if (!quote) {
          quote = c;
          continue;
        }
        if (quote == c) {
          quote = 0;
          continue;
        }
      } else if (!quote && (c == u' ' || c == u'=')) {
        if (last + 1 >= kMaxTokens) break;
        ++last;
        continue;
      }
      tokens[last].append(c);
    }
  }
  FXWString& name = tokens[0];
  name.lower();
  std::int32_t a = 0, b = name.length();
  while (a < b && isBlank(name[a])) ++a;
  while (b > a && isBlank(name[b - 1])) --b;
  if (a > 0 || b < name.length()) name = name.mid(a, b - a);
  auto& t = tagTable();
  auto it = t.find(name);
  if (it == t.end()) return 18;
  ctx.lastToken = last;
  FXKTextFormat* f = it->second;
  if (closing) return f->close(ctx);
  const std::int32_t opened = f->open(ctx);
  if (!selfClosing) return opened;
  return f->close(ctx);
}

bool FXKTextLayout::applyTagResult(std::int32_t result, tagcontext& ctx) {
  bool block = false;
  switch (result) {
    case 1: appendLineBreak(-1); break;
    case 5:
    case 7:
    case 8:
    case 11: block = true; break;
    case 14: text_.append(ctx.literal); break;
    default: break;
  }
  recordStyle(-1, style_);
  return block;
}

std::int32_t FXKTextLayout::appendLineBreak(std::int32_t position) {
  if (position < 0 || position > text_.length()) position = text_.length();
  if (position > 0 && text_[position - 1] == TextMarker::kBlock) {
    text_[position - 1] = TextMarker::kLineBreak;
  } else {
    text_.insert(position, TextMarker::kLineBreak);
  }
  return position;
}

void FXKTextLayout::addTooltip(const FXWString& name, const FXWString& text) {
  FXWString key(u"#");
  key.append(name);
  auto t = std::make_unique<tooltip>();
  t->text = text;
  tooltips_.insert_or_assign(key, std::move(t));
}

const FXKTextLayout::tooltip* FXKTextLayout::findTooltip(const FXWString& key) const {
  auto it = tooltips_.find(key);
  return it == tooltips_.end() ? nullptr : it->second.get();
}

FXKTextLayout::tooltip* FXKTextLayout::newTooltip(const FXWString& text) {
  auto& t = inlineTooltips_.emplace_back(std::make_unique<tooltip>());
  t->text = text;
  return t.get();
}

// ---------------------------------------------------------------- finish

void FXKTextLayout::finishText() {
  const std::int32_t len = text_.length();
  finishing_ = true;
  while (current_) current_ = closeBlock(current_, len);
  finishing_ = false;
  for (anchorentry& a : anchors_)
    if (a.end == -1) a.end = len;
  anchorCursor_ = 0;
  auto expand = [&](auto& self, block& b) -> void {
    if (b.flags & kBlockTable) expandSpans(b);
    for (block& c : b.children) self(self, c);
  };
  expand(expand, root_);
  hardLines_ = 0;
  segments_.clear();
  segmentBlock(root_);
  recordStyle(len + 1, style_);
  state_ |= 2;
  hoveredLink_ = -1;
  hoveredBlock_ = nullptr;
}
