#include "widgets/container.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "widgets/widgets_testing.h"

using namespace FX;

namespace {

// Paints itself in one colour and logs pointer calls.
class Box : public FXKTerminal {
 public:
  Box(FXKContainer* parent, FXColor color, std::string name, std::vector<std::string>* log = nullptr)
      : FXKTerminal(parent), color(color), name(std::move(name)), log(log) {}
  FXColor color;
  std::string name;
  std::vector<std::string>* log;
  int layouts = 0;
  void paint(FXKPaintDC& dc, const FXRectangle& rect, FXRegion&) override {
    dc.dc->setForeground(color);
    dc.fillRectangle(rect.x, rect.y, rect.w, rect.h);
  }
  void layout() override { ++layouts; }
  void onEnter(FXint px, FXint py) override { note("enter"), FXKTerminal::onEnter(px, py); }
  void onLeave(FXint px, FXint py) override { note("leave"), FXKTerminal::onLeave(px, py); }
  void onMotion(FXint px, FXint py) override { note("motion"), FXKTerminal::onMotion(px, py); }
  void note(const char* what) {
    if (log) log->push_back(name + " " + what);
  }
};

TEST(Container, HitTestingTakesTheEarlierOfOverlappingChildren) {
  FXKContainer root;
  auto* group = new FXKContainer(&root);
  group->position(10, 10, 100, 100);
  auto* a = new Box(group, 0, "a");
  auto* b = new Box(group, 0, "b");
  a->position(0, 0, 50, 50);
  b->position(25, 25, 50, 50);
  EXPECT_EQ(root.hitTest(40, 40), a);  // 30,30 inside the group: both, a first
  EXPECT_EQ(root.hitTest(80, 80), b);
  EXPECT_EQ(root.hitTest(100, 100), group);  // inside the group, no child
  EXPECT_EQ(root.hitTest(5, 5), nullptr);
  EXPECT_EQ(root.hitTest(110, 50), nullptr);  // the right edge is outside
}

TEST(Container, InsertAfterAForeignReferenceAddsNothing) {
  FXKContainer root, other;
  auto* a = new Box(&root, 0, "a");
  auto* stranger = new Box(&other, 0, "s");
  auto* fresh = new FXKTerminal;
  root.insertChildAfter(stranger, fresh);
  EXPECT_EQ(root.children.size(), 1u);
  EXPECT_EQ(fresh->parent, nullptr);
  root.insertChildAfter(a, fresh);
  ASSERT_EQ(root.children.size(), 2u);
  EXPECT_EQ(root.children[1], fresh);
  delete fresh;  // unlinks itself
  EXPECT_EQ(root.children.size(), 1u);
}

TEST(Container, RequestLayoutClimbsOnceAndPositionLaysOut) {
  FXKContainer root;
  auto* group = new FXKContainer(&root);
  auto* a = new Box(group, 0, "a");
  root.flags = group->flags = a->flags = 0;
  a->requestLayout();
  EXPECT_TRUE(root.flags & FXKTerminal::FLAG_LAYOUT);
  EXPECT_TRUE(group->flags & FXKTerminal::FLAG_LAYOUT);
  root.flags = 0;
  a->requestLayout();  // already set: the ancestors are not asked again
  EXPECT_FALSE(root.flags & FXKTerminal::FLAG_LAYOUT);

  a->position(0, 0, 10, 10);
  EXPECT_EQ(a->layouts, 1);
  EXPECT_FALSE(a->flags & FXKTerminal::FLAG_LAYOUT);
  a->position(5, 5, 10, 10);  // moved, same size, no layout asked
  EXPECT_EQ(a->layouts, 1);
}

TEST(Container, NeighbourSearchInModeZeroNeedsACrossOverlap) {
  FXKContainer root;
  // A column: reference at the bottom, one item straight above, one above
  // and beside it without overlap.
  auto* reference = new Box(&root, 0, "r");
  auto* above = new Box(&root, 0, "above");
  auto* beside = new Box(&root, 0, "beside");
  reference->position(0, 100, 50, 20);
  above->position(0, 40, 50, 20);
  beside->position(60, 70, 50, 20);
  const FXRectangle o = reference->getOrientedRect(reference->area(), 2);
  auto fresh = [&] {
    FXKNeighbourSearch s;
    s.crossStart = o.x, s.crossEnd = o.x + o.w, s.mainStart = o.y, s.mainEnd = o.y + o.h;
    return s;
  };
  FXKNeighbourSearch s = fresh();
  EXPECT_FALSE(beside->scoreNeighbour(s, 2, 0));
  EXPECT_TRUE(above->scoreNeighbour(s, 2, 0));
  EXPECT_EQ(s.bestDistance, 40);
  // Other modes take the nearer one beside, its cross distance added.
  s = fresh();
  EXPECT_TRUE(beside->scoreNeighbour(s, 2, 2));
  EXPECT_EQ(s.bestDistance, 10 + 110);
  // Downwards nothing lies below the reference.
  s = fresh();
  const FXRectangle down = reference->getOrientedRect(reference->area(), 3);
  s.crossStart = down.x, s.crossEnd = down.x + down.w, s.mainStart = down.y, s.mainEnd = down.y + down.h;
  EXPECT_FALSE(above->scoreNeighbour(s, 3, 0));
}

class ContainerWindowTest : public kvtest::GuiTest {};

FXColor pixel(FXImage& image, int x, int y) { return image.getPixel(x, y) | FXRGBA(0, 0, 0, 255); }

TEST_F(ContainerWindowTest, PaintingIsClippedAndEveryPixelPaintedOnce) {
  auto* window = new FXKContainerWindow(main, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  window->setBackColor(FXRGB(255, 255, 255));
  auto* group = new FXKContainer(&window->root);
  group->position(10, 10, 100, 100);
  auto* a = new Box(group, FXRGB(255, 0, 0), "a");
  auto* b = new Box(group, FXRGB(0, 0, 255), "b");
  a->position(0, 0, 50, 50);
  b->position(25, 25, 50, 50);
  show();

  FXImage image(app.get(), nullptr, IMAGE_KEEP | IMAGE_SHMI | IMAGE_SHMP, 200, 200);
  image.create();
  {
    FXDCWindow dc(&image);
    dc.setForeground(FXRGB(0, 255, 0));
    dc.fillRectangle(0, 0, 200, 200);
    // Only this window rectangle is damaged.
    window->paintInto(dc, FXRectangle(0, 0, 60, 200));
  }
  image.restore();
  struct Point {
    int x, y;
    FXColor expected;
  } points[] = {
      {5, 5, FXRGB(255, 255, 255)},    // root background
      {40, 40, FXRGB(255, 0, 0)},      // a covers b
      {40, 70, FXRGB(0, 0, 255)},      // b only
      {80, 80, FXRGB(0, 255, 0)},      // b, but outside the damage
      {30, 105, FXRGB(255, 255, 255)}, // the group's own background
      {150, 5, FXRGB(0, 255, 0)},      // not damaged
  };
  for (const Point& p : points) EXPECT_EQ(pixel(image, p.x, p.y), p.expected) << p.x << "," << p.y;

  // Scrolled: the same content moves with the scroll position.
  window->root.position(0, 0, 400, 600);
  window->setPosition(0, -30);
  {
    FXDCWindow dc(&image);
    window->paintInto(dc, FXRectangle(0, 0, 200, 200));
  }
  image.restore();
  EXPECT_EQ(pixel(image, 40, 10), FXRGB(255, 0, 0));
  EXPECT_EQ(window->terminalAt(40, 10), a);
}

TEST_F(ContainerWindowTest, PointerTrackingLeavesOneAndEntersTheNext) {
  auto* window = new FXKContainerWindow(main, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  std::vector<std::string> log;
  auto* a = new Box(&window->root, 0, "a", &log);
  auto* b = new Box(&window->root, 0, "b", &log);
  show();
  a->position(0, 0, 50, 50);
  b->position(50, 0, 50, 50);
  window->trackEnter(10, 10);
  window->trackMotion(20, 10);
  window->trackMotion(60, 10);
  window->trackMotion(300, 300);
  window->trackMotion(70, 10);
  delete b;  // the tracked terminal goes
  EXPECT_EQ(window->tracked, nullptr);
  window->trackLeave();
  const std::vector<std::string> expected{"a enter", "a motion", "a motion", "a leave", "b enter",
                                          "b motion", "b leave", "b enter", "b motion"};
  EXPECT_EQ(log, expected);
  EXPECT_FALSE(a->flags & FXKTerminal::FLAG_HOVER);
}

}  // namespace
