// The layout object: construction, the block tree, style runs, named styles,
// contexts, links, anchors, embedded objects, images and the measuring
// questions with their caches.
#include "textlayout/layout.h"

#include <fx.h>
#include <FXPNGIcon.h>

#include <algorithm>

#include "core/error.h"
#include "platform/fox/fx_app.h"
#include "system/number_text.h"
#include "textlayout/formats.h"

using namespace FX;

namespace {

FXExtApp* extApp(FXApp* app) { return dynamic_cast<FXExtApp*>(app); }

}  // namespace

// ---------------------------------------------------------------- records

bool FXKTextLayout::textstyle::operator==(const textstyle& o) const {
  return flags == o.flags && savedFlags == o.savedFlags && textColor == o.textColor &&
         savedTextColor == o.savedTextColor && hoverTextColor == o.hoverTextColor &&
         savedHoverTextColor == o.savedHoverTextColor && backColor == o.backColor && savedBackColor == o.savedBackColor &&
         hoverBackColor == o.hoverBackColor && savedHoverBackColor == o.savedHoverBackColor &&
         gradientColor == o.gradientColor && savedGradientColor == o.savedGradientColor &&
         hoverGradientColor == o.hoverGradientColor && savedHoverGradientColor == o.savedHoverGradientColor &&
         indent == o.indent && linkIndex == o.linkIndex && tabWidth == o.tabWidth && tip == o.tip &&
         savedTip == o.savedTip && link == o.link && savedLink == o.savedLink && handler == o.handler &&
         savedHandler == o.savedHandler && fontName == o.fontName;
}

FXKTextLayout::block::block(const block& o)
    : id(o.id), textStart(o.textStart), textEnd(o.textEnd), firstLine(o.firstLine), endLine(o.endLine),
      firstSegment(o.firstSegment), endSegment(o.endSegment), minWidth(o.minWidth), maxWidth(o.maxWidth),
      widthsCached(o.widthsCached), width(o.width), height(o.height), usedHeight(o.usedHeight), padding(o.padding),
      spacing(o.spacing), colSpan(o.colSpan), rowSpan(o.rowSpan), flags(o.flags), align(o.align), x(o.x), y(o.y),
      w(o.w), h(o.h), style(o.style ? std::make_unique<textstyle>(*o.style) : nullptr), children(o.children),
      parent(o.parent), background(o.background ? std::make_unique<bgimage>(*o.background) : nullptr),
      backColor(o.backColor), hoverBackColor(o.hoverBackColor), gradientColor(o.gradientColor),
      hoverGradientColor(o.hoverGradientColor), textColor(o.textColor), hoverTextColor(o.hoverTextColor) {
  for (block& c : children) c.parent = this;
}

void FXKTextLayout::primitive::resetSizeCaches() {
  naturalW = minimumW = heightAtNatural = heightAtMinimum = heightAtOther = otherWidth = -1;
}

std::int32_t FXKTextLayout::primitive::cachedWidth() {
  if (placement & 1) {
    if (naturalW == -1) naturalW = naturalWidth();
    return naturalW;
  }
  if (minimumW == -1) minimumW = minimumWidth();
  return minimumW;
}

std::int32_t FXKTextLayout::primitive::cachedHeight(std::int32_t width) {
  if (width == naturalW && naturalW != -1) {
    if (heightAtNatural == -1) heightAtNatural = naturalHeight(width);
    return heightAtNatural;
  }
  if (width == minimumW && minimumW != -1) {
    if (heightAtMinimum == -1) heightAtMinimum = naturalHeight(width);
    return heightAtMinimum;
  }
  if (width != otherWidth || heightAtOther == -1) {
    otherWidth = width;
    heightAtOther = naturalHeight(width);
  }
  return heightAtOther;
}

void FXKTextLayout::primitive::detach() {
  if (layout) layout->removeObject(this);
}

void FXKTextLayout::primitive::repaint() {
  if (layout) layout->updateLayoutRect(FXRectangle(FXshort(x), FXshort(y), FXshort(w), FXshort(h)));
}

void FXKTextLayout::primitive::setRect(std::int32_t nx, std::int32_t ny, std::int32_t nw, std::int32_t nh) {
  x = nx, y = ny, w = nw, h = nh;
}

// ---------------------------------------------------------------- lifetime

FXKTextLayout::FXKTextLayout(FXWindow* owner, bool justify)
    : FXKVerbProcessor(owner ? owner->getApp() : nullptr), owner_(owner), app_(owner ? owner->getApp() : nullptr) {
  init(justify);
}

FXKTextLayout::FXKTextLayout(FXApp* app, bool justify) : FXKVerbProcessor(app), app_(app) { init(justify); }

void FXKTextLayout::init(bool justify) {
  updateRegion_ = std::make_unique<FXRegion>();
  if (FXExtApp* ext = extApp(app_)) {
    for (int i = 0; i < 3; ++i) fonts_[i] = ext->getStockFont(i);
    textColor_ = ext->getStockColor(7);
    backColor_ = ext->getStockColor(6);
  } else if (app_) {
    for (auto& f : fonts_) f = app_->getNormalFont();
    textColor_ = FXRGB(0, 0, 0);
    backColor_ = FXRGB(255, 255, 255);
  }
  style_.flags = justify ? 3 : 0;
  style_.indent = 4;
  style_.tabWidth = 8;
  recordStyle(0, style_);
  root_.style = std::make_unique<textstyle>(style_);
  root_.id = 1;
  tagTable();  // filled on first use
  anchors_.push_back(anchorentry{0, -1, -1, -1, {}, 0, nullptr});
  links_.push_back(linkentry{0, -1, -1, -1, {}, 1, nullptr});
}

FXKTextLayout::~FXKTextLayout() {
  for (auto& [k, icon] : images_) delete icon;
  images_.clear();
  text_.clear();
  segments_.clear();
  deleteObjects();
  tooltips_.clear();
  inlineTooltips_.clear();
}

void FXKTextLayout::create() {
  state_ |= 1;
  if (watermark_) watermark_->create();
  if (watermark2_) watermark2_->create();
  for (auto& [pos, p] : objects_) p->create();
  for (auto& [k, icon] : images_) icon->create();
  for (auto* f : fonts_)
    if (f) f->create();
}

void FXKTextLayout::clear() {
  passValid_ = false;
  text_.clear();
  segments_.clear();
  deleteObjects();
  state_ &= ~1u;
}

// ---------------------------------------------------------------- block tree

FXKTextLayout::block* FXKTextLayout::openBlock(block* parent, std::int32_t position, std::uint32_t kind) {
  block* b = &root_;
  if (parent) {
    auto where = parent->children.end();
    if (!parent->children.empty() && parent->children.back().id < 0) {
      where = std::find_if(parent->children.begin(), parent->children.end(), [](const block& c) { return c.id <= 0; });
    }
    b = &*parent->children.emplace(where);
  }
  b->textStart = position;
  b->textEnd = position;
  b->firstSegment = b->endSegment = -1;
  b->parent = parent;
  b->flags = kind;
  b->align = 0;
  b->x = b->y = b->w = b->h = 0;
  b->height = 0;
  b->background.reset();
  b->colSpan = b->rowSpan = 0;
  b->id = ++blockCounter_;
  if (!parent) {
    b->style = std::make_unique<textstyle>(style_);
  } else if (*nearestStyle(parent) == style_) {
    b->style.reset();
  } else {
    b->style = std::make_unique<textstyle>(style_);
  }
  if (kind & kBlockTable) {
    style_.textColor = style_.hoverTextColor = 0;
    style_.backColor = style_.hoverBackColor = backColor_;
  }
  style_.indent = 0;
  style_.tabWidth = 8;
  if (parent) {
    b->backColor = parent->backColor;
    b->hoverBackColor = parent->hoverBackColor;
    b->textColor = parent->textColor;
    b->hoverTextColor = parent->hoverTextColor;
    b->flags |= parent->flags & (kBlockHtml | kBlockDisabled | kBlockOpaque);
    if (parent->gradientColor.isSet()) b->flags |= kBlockParentGradient;
    if (kind & 0x10000C) {
      if (parent->width > 0) {
        b->width = parent->width;
        b->flags |= parent->flags & kBlockWidthPercent;
      } else {
        b->width = 0;
      }
      b->flags |= (parent->flags & kBlockUnitPoints) ? kBlockUnitPoints : (parent->flags & kBlockUnitPixels);
      b->align = parent->align;
      b->spacing = parent->spacing;
      b->padding = parent->padding;
    } else {
      b->spacing = 1;
      b->padding = 0;
      b->width = 0;
    }
  } else {
    b->backColor = b->textColor = b->hoverTextColor = b->gradientColor = b->hoverGradientColor = 0;
    b->hoverBackColor = backColor_;
    b->spacing = 1;
    b->padding = 0;
  }
  recordStyle(position, style_);
  return b;
}

FXKTextLayout::block* FXKTextLayout::closeBlock(block* b, std::int32_t position) {
  if (!b) return nullptr;
  // An end tag without its start tag would close the root, and the next block
  // tag would then open over it: the root stays open until the parse ends.
  if (b == &root_ && !finishing_) return b;
  b->textEnd = position;
  const textstyle* s = nearestStyle(b);
  style_ = s ? *s : *root_.style;
  return b->parent;
}

FXKTextLayout::textstyle* FXKTextLayout::nearestStyle(block* b) {
  for (; b; b = b->parent)
    if (b->style) return b->style.get();
  return root_.style.get();
}

const FXKTextLayout::textstyle* FXKTextLayout::nearestStyle(const block* b) const {
  for (; b; b = b->parent)
    if (b->style) return b->style.get();
  return root_.style.get();
}

FXKTextLayout::block* FXKTextLayout::findBlockById(std::int32_t id, block* start) {
  if (id == -1) return nullptr;
  if (!start) start = &root_;
  if (start->id == id) return start;
  for (block& c : start->children) {
    if (c.id == id) return &c;
    if (!c.children.empty())
      if (block* f = findBlockById(id, &c)) return f;
  }
  return nullptr;
}

void FXKTextLayout::resetRootBlock() {
  root_.textStart = root_.textEnd = 0;
  root_.firstLine = root_.endLine = 0;
  root_.firstSegment = root_.endSegment = 0;
  root_.flags = 0;
  root_.padding = 0;
  root_.spacing = 1;
  root_.colSpan = root_.rowSpan = 0;
  root_.parent = nullptr;
  root_.backColor = root_.hoverBackColor = root_.gradientColor = root_.hoverGradientColor = root_.textColor =
      root_.hoverTextColor = 0;
  root_.children.clear();
  root_.background.reset();
  root_.widthsCached = false;
  root_.minWidth = root_.maxWidth = 0;
  root_.style = std::make_unique<textstyle>();
  root_.style->tabWidth = 0;
}

FXKTextLayout::block* FXKTextLayout::blockById(const FXWString& id) const {
  auto it = blockIds_.find(id);
  return it == blockIds_.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------- style runs

FXKTextLayout::textstyle& FXKTextLayout::runAt(std::int32_t position) { return runs_[position]; }

const FXKTextLayout::textstyle* FXKTextLayout::styleAtPosition(std::int32_t position) const {
  auto it = runs_.upper_bound(position);
  if (it == runs_.begin()) return nullptr;
  return &std::prev(it)->second;
}

void FXKTextLayout::recordStyle(std::int32_t position, const textstyle& style) {
  if (position < 0) position = text_.length();
  runs_.insert_or_assign(position, style);
}

void FXKTextLayout::resetRuns() {
  runs_.clear();
  style_.indent = 0;
  style_.tabWidth = 0;
  style_.tip = style_.savedTip = nullptr;
  style_.link.clear();
  style_.savedLink.clear();
  style_.fontName.clear();
  recordStyle(0, style_);
}

// ---------------------------------------------------------------- named styles

void FXKTextLayout::defineStyle(const FXWString& first, const FXWString& second, const styledef& def) {
  FXWString key = first;
  key.append(u'.');
  key.append(second);
  styles_.insert_or_assign(key, def);
}

namespace {

FXWString styleKey(const FXWString& tag, const FXWString& cls) {
  FXWString key = tag;
  key.append(u'.');
  key.append(cls);
  return key;
}

// Hands each definition a tag and class select to `fn`, base styles first; a
// style whose base names itself (directly or in a ring) is taken once.
template <class Styles, class Fn>
void forEachStyle(const Styles& styles, const FXWString& tag, const FXWString& cls, Fn&& fn) {
  std::vector<const typename Styles::mapped_type*> active;
  auto visit = [&](auto& self, const FXWString& key) -> void {
    auto it = styles.find(key);
    if (it == styles.end()) return;
    const auto& d = it->second;
    if (std::find(active.begin(), active.end(), &d) != active.end()) return;
    active.push_back(&d);
    if (!d.base.empty()) {
      self(self, styleKey(FXWString(), d.base));
      self(self, styleKey(tag, d.base));
    }
    fn(d);
    active.pop_back();
  };
  if (!cls.empty()) visit(visit, styleKey(FXWString(), cls));
  visit(visit, styleKey(tag, cls));
}

}  // namespace

void FXKTextLayout::applyStyleToBlock(block* b, const FXWString& tag, const FXWString& cls) {
  forEachStyle(styles_, tag, cls, [&](const styledef& d) {
    const std::uint32_t m = d.mask;
    if ((m & 0xC000) == 0xC000) style_.flags &= ~0xF00u;
    if (m & 0x8000) style_.flags |= kBold;
    if (m & 0x4000) style_.flags = (style_.flags & ~std::uint32_t(kUnderline)) | (d.style.flags & kUnderline);
    if (m & 0x1000) {
      b->textColor = b->hoverTextColor = d.style.textColor;
      style_.textColor = d.style.textColor;
      style_.hoverTextColor = d.style.hoverTextColor.isSet() ? d.style.hoverTextColor : d.style.textColor;
    }
    if (m & 0x2000) b->hoverTextColor = style_.hoverTextColor = d.style.hoverTextColor;
    if (m & 0x4) {
      b->backColor = d.style.backColor;
      b->hoverBackColor = d.style.hoverBackColor;
    }
    if (m & 0x20) {
      b->gradientColor = d.style.gradientColor;
      b->hoverGradientColor = d.style.hoverGradientColor;
    }
    if (m & 0x7C0) {
      if (!b->background) b->background = std::make_unique<bgimage>();
      if (m & 0x40) b->background->image = d.background.image;
      if (m & 0x80) b->background->hoverImage = d.background.hoverImage;
      if (m & 0x700) b->background->placement = d.background.placement;
    }
    if (m & 0x1) style_.flags = (style_.flags & ~3u) | (d.style.flags & 3u);
    if (m & 0x2) style_.flags = (style_.flags & ~0x30u) | (d.style.flags & 0x30u);
    if (m & 0x20000) b->flags = (b->flags & ~std::uint32_t(kBlockOpaque)) | ((d.style.flags & kOpaqueStyle) ? std::uint32_t(kBlockOpaque) : 0u);
  });
  b->align |= style_.flags & 0x33u;
}

void FXKTextLayout::applyStyleToText(textstyle& style, const FXWString& tag, const FXWString& cls) {
  forEachStyle(styles_, tag, cls, [&](const styledef& d) {
    const std::uint32_t m = d.mask;
    if ((m & 0xC000) == 0xC000) style.flags &= ~0xF00u;
    if (m & 0x8000) style.flags |= kBold;
    if (m & 0x4000) style.flags = (style.flags & ~std::uint32_t(kUnderline)) | (d.style.flags & kUnderline);
    if (m & 0x1000) {
      style.textColor = d.style.textColor;
      style.hoverTextColor = d.style.hoverTextColor.isSet() ? d.style.hoverTextColor : d.style.textColor;
    }
    if (m & 0x2000) style.hoverTextColor = d.style.hoverTextColor;
    if (m & 0x4) {
      style.backColor = d.style.backColor;
      style.hoverBackColor = d.style.hoverBackColor;
    }
    if (m & 0x20) {
      style.gradientColor = d.style.gradientColor;
      style.hoverGradientColor = d.style.hoverGradientColor;
    }
    if (m & 0x1) style.flags = (style.flags & ~3u) | (d.style.flags & 3u);
    if (m & 0x2) style.flags = (style.flags & ~0x30u) | (d.style.flags & 0x30u);
  });
}

// ---------------------------------------------------------------- contexts

void FXKTextLayout::openContext(tagcontext& ctx) {
  const FXWString id = ctx.value(u"id");
  text_.append(TextMarker::kBlock);
  textcontext* parent = currentContext_ ? currentContext_ : &rootContext_;
  textcontext& c = parent->children.emplace_back();
  c.layout = this;
  c.opener = current_;
  c.parent = parent;
  c.textStart = text_.length();
  c.blocksAtOpen = blockCounter_;
  c.style = style_;
  currentContext_ = &c;
  contextIds_[id] = &c;
}

FXKTextLayout::textcontext* FXKTextLayout::closeContext(tagcontext&) {
  textcontext* c = currentContext_;
  if (!c || c == &rootContext_) {
    text_.append(TextMarker::kBlock);
    return nullptr;
  }
  style_ = c->style;
  c->textEnd = text_.length();
  c->blocksAtClose = blockCounter_;
  currentContext_ = c->parent == &rootContext_ ? nullptr : c->parent;
  text_.append(TextMarker::kBlock);
  return currentContext_;
}

FXKTextLayout::textcontext* FXKTextLayout::contextById(const FXWString& id) const {
  auto it = contextIds_.find(id);
  return it == contextIds_.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------- links and anchors

std::int32_t FXKTextLayout::addAnchor(std::int32_t position, std::int32_t kind) {
  anchors_.push_back(anchorentry{position, -1, -1, -1, {}, kind, current_});
  return static_cast<std::int32_t>(anchors_.size()) - 1;
}

std::int32_t FXKTextLayout::addLink(std::int32_t position, std::int32_t kind) {
  links_.push_back(linkentry{position, -1, blockCounter_ + 1, -1, {}, kind, current_});
  return static_cast<std::int32_t>(links_.size()) - 1;
}

void FXKTextLayout::closeLink(std::int32_t* cursor, std::int32_t position) {
  // The cursor names the entry the closing link opened; without one, the last
  // entry still open.
  std::int32_t i = cursor ? *cursor : -1;
  if (i <= 0 || i >= static_cast<std::int32_t>(links_.size()) || links_[i].end != -1) {
    i = -1;
    for (std::int32_t k = static_cast<std::int32_t>(links_.size()) - 1; k > 0; --k) {
      if (links_[k].end == -1) {
        i = k;
        break;
      }
    }
  }
  if (i <= 0) return;
  linkentry& e = links_[i];
  e.end = position;
  e.endBlock = blockCounter_ + 1;
  if (e.endBlock == e.firstBlock) e.firstBlock = e.endBlock = -1;
}

// ---------------------------------------------------------------- embedded objects

std::int32_t FXKTextLayout::insertObject(std::int32_t position, primitive* object) {
  if (position < 0) position = text_.length();
  passValid_ = false;
  if (current_) {
    object->layout = this;
    object->owner = current_;
    if (position >= current_->textStart && position > 0 && text_[position - 1] != TextMarker::kLineBreak &&
        text_[position - 1] != TextMarker::kBlock) {
      text_.insert(position, TextMarker::kBlock);
      ++position;
    }
    text_.insert(position, TextMarker::kObject);
    objects_[position].reset(object);
    if (isCreated()) object->create();
    text_.insert(position + 1, TextMarker::kBlock);
    return position + 1;
  }
  auto it = objects_.find(position);
  if (it != objects_.end()) {
    primitive* old = it->second.release();
    objects_.erase(it);
    old->layout = nullptr;
    delete old;
  }
  object->layout = this;
  objects_[position].reset(object);
  if (isCreated()) object->create();
  return position;
}

void FXKTextLayout::removeObject(primitive* object) {
  for (auto it = objects_.begin(); it != objects_.end(); ++it) {
    if (it->second.get() == object) {
      (void)it->second.release();
      objects_.erase(it);
      return;
    }
  }
}

void FXKTextLayout::deleteObjects() {
  auto objects = std::move(objects_);
  objects_.clear();
  for (auto& [pos, p] : objects) {
    p->layout = nullptr;
    p->destroy();
  }
}

FXKTextLayout::primitive* FXKTextLayout::objectAt(std::int32_t position) const {
  auto it = objects_.find(position);
  return it == objects_.end() ? nullptr : it->second.get();
}

// ---------------------------------------------------------------- images

FXIcon* FXKTextLayout::loadImage(const FXWString& name, const std::string& data, bool inactive) {
  FXWString key = name;
  if (inactive) key.append(u'i');
  if (auto it = images_.find(key); it != images_.end()) {
    if (isCreated() && !it->second->id()) it->second->create();
    return it->second;
  }
  if (!app_) return nullptr;
  const FXuint options = inactive ? 1048 : 24;
  // PNG bytes go through a stream of their size: FOX's own constructor reads
  // data without a length and would run past a truncated image.
  auto fromBytes = [&](const void* bytes, std::size_t size) -> FXIcon* {
    FXMemoryStream stream;
    if (!stream.open(FXStreamLoad, size, static_cast<FXuchar*>(const_cast<void*>(bytes)))) return nullptr;
    auto* png = new FXPNGIcon(app_, nullptr, 0xFF000000, options);
    if (!png->loadPixels(stream)) {
      delete png;
      return nullptr;
    }
    return png;
  };
  FXIcon* icon = nullptr;
  if (!data.empty()) {
    icon = fromBytes(data.data(), data.size());
  } else {
    const std::string narrow = name.toUtf8();
    std::uint32_t size = 0;
    std::uint8_t* bytes = nullptr;
    try {
      bytes = Common::loadResource(narrow.c_str(), &size);
    } catch (const Common::Error&) {
      bytes = nullptr;  // no image, and a later call looks again
    }
    if (bytes) {
      icon = fromBytes(bytes, size);
      delete[] bytes;
    } else {
      FXFileStream stream;
      if (stream.open(narrow.c_str(), FXStreamLoad)) {
        icon = new FXPNGIcon(app_, nullptr, 0xFF000000, options);
        if (!icon->loadPixels(stream)) {
          delete icon;
          icon = nullptr;
        }
      }
    }
  }
  if (!icon) return nullptr;
  if (icon->getWidth() <= 0 || icon->getHeight() <= 0) {
    delete icon;
    return nullptr;
  }
  images_[key] = icon;
  if (isCreated()) icon->create();
  return icon;
}

FXIcon* FXKTextLayout::getImage(const FXWString& name, bool inactive) { return loadImage(name, std::string(), inactive); }

void FXKTextLayout::setWatermark(FXImage* image) {
  if (!image || image == watermark_) return;
  watermark_ = image;
  if (isCreated()) image->create();
}

// ---------------------------------------------------------------- measuring questions

std::pair<std::int32_t, std::int32_t> FXKTextLayout::measure(std::int32_t width) {
  ++measureCount_;
  ensureMeasured(false);
  const std::int32_t savedContentW = contentWidth_, savedContentH = contentHeight_;
  const std::int32_t savedMin = minWidth_, savedMax = maxWidth_;
  const std::int32_t savedLines = lineCount_, savedHard = hardLines_;
  const std::int32_t savedLayoutW = layoutWidth_, savedLayoutH = layoutHeight_;
  // The pass runs on the real tree, whose state is put back afterwards: only
  // rectangles, line ranges and used heights change, so those are saved
  // instead of a copy of the whole tree.
  struct Saved {
    block* b;
    std::int32_t firstLine, endLine, usedHeight, x, y, w, h;
    std::uint32_t flags;
    bgimage bg;
  };
  std::vector<Saved> saved;
  auto save = [&](auto& self, block& b) -> void {
    saved.push_back({&b, b.firstLine, b.endLine, b.usedHeight, b.x, b.y, b.w, b.h, b.flags,
                     b.background ? *b.background : bgimage()});
    for (block& c : b.children) self(self, c);
  };
  save(save, root_);
  std::vector<line> lines = std::move(lines_), previous = std::move(previousLines_);
  std::vector<segment> segs = segments_;
  auto region = std::make_unique<FXRegion>(*updateRegion_);
  std::vector<std::tuple<primitive*, std::int32_t, std::int32_t, std::int32_t, std::int32_t>> placed;
  for (auto& [pos, p] : objects_) placed.emplace_back(p.get(), p->x, p->y, p->w, p->h);
  lines_.clear();
  previousLines_.clear();
  *updateRegion_ = FXRegion();

  const bool wasMeasuring = measuring_;
  const bool wasValid = passValid_;
  std::int32_t view[4];
  std::copy(passView_, passView_ + 4, view);
  measuring_ = true;
  passValid_ = false;
  layout(width, 0, false);
  measuring_ = wasMeasuring;
  passValid_ = wasValid;
  std::copy(view, view + 4, passView_);
  const std::int32_t height = contentHeight_;
  std::int32_t w = contentWidth_;
  if (w <= 0 || w == 0x7FFFFFFF) w = 0;
  if (root_.w != 0x7FFFFFFF) w = std::max(w, root_.w);

  for (const Saved& s : saved) {
    s.b->firstLine = s.firstLine, s.b->endLine = s.endLine, s.b->usedHeight = s.usedHeight;
    s.b->x = s.x, s.b->y = s.y, s.b->w = s.w, s.b->h = s.h, s.b->flags = s.flags;
    if (s.b->background) *s.b->background = s.bg;
  }
  for (auto& [p, x, y, pw, ph] : placed) p->x = x, p->y = y, p->w = pw, p->h = ph;
  lines_ = std::move(lines);
  previousLines_ = std::move(previous);
  segments_ = std::move(segs);
  *updateRegion_ = *region;
  contentWidth_ = savedContentW, contentHeight_ = savedContentH;
  minWidth_ = savedMin, maxWidth_ = savedMax;
  lineCount_ = savedLines, hardLines_ = savedHard;
  layoutWidth_ = savedLayoutW, layoutHeight_ = savedLayoutH;
  return {w, height};
}

std::int32_t FXKTextLayout::getMinimumWidth() {
  if (minWidth_ == 0) minWidth_ = measure(0).first;
  return minWidth_;
}

std::int32_t FXKTextLayout::getMaximumWidth() {
  if (maxWidth_ == 0) maxWidth_ = measure(0x7FFFFFFF).first;
  return maxWidth_;
}

std::int32_t FXKTextLayout::getHeightForWidth(std::int32_t width) {
  if (auto it = heightCache_.find(width); it != heightCache_.end()) return it->second;
  const std::int32_t h = measure(width).second;
  if (h != 0) heightCache_[width] = h;
  return h;
}

std::int32_t FXKTextLayout::getContentHeight() const {
  if (!lines_.empty()) return contentHeight_;
  return (fonts_[0] ? fonts_[0]->getFontHeight() : 0) * lineCount_;
}

// ---------------------------------------------------------------- view rectangles

void FXKTextLayout::setScrollOffset(std::int32_t x, std::int32_t y) {
  scrollX_ = static_cast<std::int16_t>(x);
  scrollY_ = static_cast<std::int16_t>(y);
}

void FXKTextLayout::updateRect(const FXRectangle& rect) {
  if (owner_) owner_->update(rect.x, rect.y, rect.w, rect.h);
}

void FXKTextLayout::updateLayoutRect(const FXRectangle& rect) {
  updateRect(FXRectangle(FXshort(rect.x + originX_ - marginLeft_), FXshort(rect.y + originY_ - marginTop_), rect.w,
                         rect.h));
}

void FXKTextLayout::setViewRect(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
  viewLeft_ = left, viewTop_ = top, viewWidth_ = width, viewHeight_ = height;
  if (FXImage* wm = watermark()) {
    wmW_ = wm->getWidth(), wmH_ = wm->getHeight();
    wmX_ = width - marginLeft_ - wmW_;
    wmY_ = height - marginTop_ - wmH_;
  } else {
    wmX_ = wmY_ = 0, wmW_ = width, wmH_ = height;
  }
}

void FXKTextLayout::setMargins(std::int32_t left, std::int32_t right, std::int32_t top, std::int32_t bottom) {
  marginLeft_ = left, marginRight_ = right, marginTop_ = top, marginBottom_ = bottom;
}
