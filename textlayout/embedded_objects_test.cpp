// Embedded objects: which image a tag asks for, what each tag inserts, the
// frames of an animation, and rules drawn by pixel.
#include "textlayout/embedded_objects.h"

#include <string>
#include <vector>

#include "textlayout/view_test_fixture.h"

using namespace FX;
using kvtest::ViewApp;

namespace {

// Records the names asked for; knows "logo" and "strip" only.
class ImageLayout : public FXKTextLayout {
 public:
  ImageLayout(FXWindow* owner, FXIcon* logo, FXIcon* strip) : FXKTextLayout(owner, false), logo_(logo), strip_(strip) {}
  FXIcon* getImage(const FXWString& name, bool) override {
    asked.push_back(name.toUtf8());
    if (name == FXWString(u"*logo") || name == FXWString(u"logo")) return logo_;
    if (name == FXWString(u"strip")) return strip_;
    return nullptr;
  }
  std::vector<std::string> asked;

 private:
  FXIcon* logo_;
  FXIcon* strip_;
};

class EmbeddedObjects : public ViewApp {
 protected:
  void SetUp() override {
    ViewApp::SetUp();
    if (IsSkipped()) return;
    logo = new FXIcon(app, nullptr, 0, IMAGE_OWNED | IMAGE_KEEP | IMAGE_OPAQUE, 8, 8);
    strip = new FXIcon(app, nullptr, 0, IMAGE_OWNED | IMAGE_KEEP | IMAGE_OPAQUE, 64, 16);
    layout = Processor::makeRef<ImageLayout>(main, logo, strip);
  }
  void TearDown() override {
    layout = nullptr;
    delete logo;
    delete strip;
  }
  std::size_t objects(const char16_t* markup) {
    layout->asked.clear();
    layout->setText(FXWString(markup));
    return layout->objects().size();
  }
  FXIcon* logo = nullptr;
  FXIcon* strip = nullptr;
  Processor::RefPtr<ImageLayout> layout;
};

TEST_F(EmbeddedObjects, TagsInsertWhatTheyCanFind) {
  struct {
    const char16_t* markup;
    std::size_t objects;
    const char* firstAsked;
  } cases[] = {
      {u"<img file=\"\" field=logo>", 1, "*logo"},
      {u"<image src=logo>", 1, "logo"},
      {u"<image src=missing>", 0, "missing"},
      {u"<icon file=missing overlay=logo>", 0, "missing"},
      {u"<icon file=logo>", 1, "logo"},
      {u"<animation file=strip width=16 height=16>", 0, "strip"},  // no speed
      {u"<animation file=strip width=16 height=16 speed=50>", 1, "strip"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(objects(c.markup), c.objects) << FXWString(c.markup).toUtf8();
    ASSERT_FALSE(layout->asked.empty());
    EXPECT_EQ(layout->asked.front(), c.firstAsked);
  }
}

TEST_F(EmbeddedObjects, AVerticalPadStopsAtTheLargestSizeMarkupMayAsk) {
  auto l = layoutOf(u"a<vpad height=4000000000/>b", 400);
  ASSERT_EQ(l->objects().size(), 1u);
  auto* pad = dynamic_cast<textobjects::VerticalPad*>(l->objects().begin()->second.get());
  ASSERT_NE(pad, nullptr);
  EXPECT_EQ(pad->getHeight(), 32767 * (font->getFontHeight() / 3));
}

TEST_F(EmbeddedObjects, AnimationStripCountsFramesAndRepaintsOnlyWhenDrawn) {
  textobjects::Animation anim(strip, 16, 16, 1000, nullptr);
  EXPECT_EQ(anim.frameCount(), 4);
  std::vector<int> seen;
  for (int i = 0; i < 5; ++i) {
    seen.push_back(anim.currentFrame());
    anim.tick();
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 0}));
  textobjects::Animation noWidth(strip, 0, 16, 1000, nullptr);
  EXPECT_EQ(noWidth.frameCount(), 64);  // divides by 1
  EXPECT_EQ(noWidth.getWidth(), 0);
}

TEST_F(EmbeddedObjects, ControlsMakeButtonsBoundToVerbs) {
  EXPECT_EQ(objects(u"<control class=slider>"), 0u);
  EXPECT_EQ(objects(u"<control class=button title=Press>"), 1u);
  auto* control = dynamic_cast<textobjects::Control*>(layout->objects().begin()->second.get());
  ASSERT_NE(control, nullptr);
  auto* button = dynamic_cast<FXButton*>(control->widget());
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->getText(), FXString("Press"));
  EXPECT_EQ(button->getSelector(), static_cast<FXSelector>(layout->getVerbId("dummy")));
  EXPECT_EQ(objects(u"<control standard=checkbox verb=toggle>"), 1u);
  control = dynamic_cast<textobjects::Control*>(layout->objects().begin()->second.get());
  EXPECT_NE(dynamic_cast<FXCheckButton*>(control->widget()), nullptr);
}

TEST_F(EmbeddedObjects, RulesDrawBarsSunkenLinesAndPercentWidths) {
  auto img = std::make_unique<FXImage>(app, nullptr, IMAGE_KEEP | IMAGE_OWNED, 300, 20);
  img->create();
  FXKTextLayout::block owner;
  owner.x = 0;
  owner.w = 200;
  owner.align = 1;  // right
  textobjects::Line half(50, 3, FXKTextLayout::kBlockWidthPercent, FXRGB(0, 0, 255), FXRGB(0, 255, 0), 0);
  half.owner = &owner;
  textobjects::Line sunken(0, 2, 0, FXRGB(10, 10, 10), FXRGB(250, 250, 250), 3);
  {
    FXDCWindow dc(img.get());
    dc.setForeground(FXRGB(255, 255, 255));
    dc.fillRectangle(0, 0, 300, 20);
    half.draw(dc, 0, 2, false, 0);
    sunken.draw(dc, 0, 10, false, 0);
  }
  img->restore();
  auto at = [&](int x, int y) { return img->getPixel(x, y) & 0xFFFFFF; };
  EXPECT_EQ(at(99, 3), FXRGB(255, 255, 255) & 0xFFFFFF);  // 100 wide, from 100
  EXPECT_EQ(at(100, 3), FXRGB(0, 0, 255) & 0xFFFFFF);
  EXPECT_EQ(at(199, 3), FXRGB(0, 0, 255) & 0xFFFFFF);
  EXPECT_EQ(at(200, 3), FXRGB(255, 255, 255) & 0xFFFFFF);
  EXPECT_EQ(sunken.getHeight(), 2);
  EXPECT_EQ(sunken.getWidth(), static_cast<std::int32_t>(0x80000000u));  // no block
}

}  // namespace
