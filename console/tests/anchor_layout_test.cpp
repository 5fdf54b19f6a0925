#include <QApplication>
#include <QSizeGrip>
#include <QWidget>

#include "console/anchor_layout.h"
#include "console/control_id.h"
#include "console/resize_dlg.h"
#include "console/resources.h"
#include "console_test_support.h"

namespace {

// The report viewer's layout: a browser stretched on every edge, two buttons
// below it moved on every edge.
constexpr int kBrowser = 1055;
constexpr int kFind = 1;
constexpr int kClose = 2;
const AnchorRect kBrowserRect{10, 11, 594, 310};
const AnchorRect kFindRect{360, 310, 459, 336};
const AnchorRect kCloseRect{489, 310, 588, 336};
const AnchorRect kClient{200, 100, 805, 448};  // 605 x 348 on screen

CAnchorLayout ViewerLayout() {
  CAnchorLayout layout;
  layout.Start(kClient);
  layout.AddAnchor(kBrowser, kBrowserRect, kAnchorStretch, kAnchorStretch, kAnchorStretch, kAnchorStretch,
                   true);
  layout.AddAnchor(kFind, kFindRect, kAnchorMove, kAnchorMove, kAnchorMove, kAnchorMove, true);
  layout.AddAnchor(kClose, kCloseRect, kAnchorMove, kAnchorMove, kAnchorMove, kAnchorMove, true);
  return layout;
}

AnchorRect Grown(AnchorRect r, int left, int top, int right, int bottom) {
  return {r.left - left, r.top - top, r.right + right, r.bottom + bottom};
}

AnchorRect Shifted(AnchorRect r, int dx, int dy) {
  return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

}  // namespace

TEST(AnchorLayout, DraggingTheViewersEdgesMovesItsControls) {
  struct Case {
    const char* what;
    int edge;
    AnchorRect client;
    AnchorRect browser, find, close;
  };
  const AnchorRect b = kBrowserRect, f = kFindRect, c = kCloseRect;
  const Case cases[] = {
      {"right edge out by 100",
       kEdgeRight,
       Grown(kClient, 0, 0, 100, 0),
       {b.left, b.top, b.right + 100, b.bottom},
       Shifted(f, 100, 0),
       Shifted(c, 100, 0)},
      {"bottom edge down by 40",
       kEdgeBottom,
       Grown(kClient, 0, 0, 0, 40),
       {b.left, b.top, b.right, b.bottom + 40},
       Shifted(f, 0, 40),
       Shifted(c, 0, 40)},
      // The client origin moves with the left edge: the browser keeps its
      // left margin and widens, the buttons keep their distance to the
      // right edge.
      {"left edge out by 50",
       kEdgeLeft,
       Grown(kClient, 50, 0, 0, 0),
       {b.left, b.top, b.right + 50, b.bottom},
       Shifted(f, 50, 0),
       Shifted(c, 50, 0)},
      {"top edge up by 30",
       kEdgeTop,
       Grown(kClient, 0, 30, 0, 0),
       {b.left, b.top, b.right, b.bottom + 30},
       Shifted(f, 0, 30),
       Shifted(c, 0, 30)},
      {"bottom-right corner",
       kEdgeBottomRight,
       Grown(kClient, 0, 0, 70, 20),
       {b.left, b.top, b.right + 70, b.bottom + 20},
       Shifted(f, 70, 20),
       Shifted(c, 70, 20)},
      {"top-left corner",
       kEdgeTopLeft,
       Grown(kClient, 15, 25, 0, 0),
       {b.left, b.top, b.right + 15, b.bottom + 25},
       Shifted(f, 15, 25),
       Shifted(c, 15, 25)},
      {"right edge in by 60",
       kEdgeRight,
       Grown(kClient, 0, 0, -60, 0),
       {b.left, b.top, b.right - 60, b.bottom},
       Shifted(f, -60, 0),
       Shifted(c, -60, 0)},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    CAnchorLayout layout = ViewerLayout();
    layout.SetSizingEdge(k.edge);
    auto moves = layout.Resize(k.client);
    ASSERT_EQ(moves.size(), 3u);
    EXPECT_EQ(moves[0].id, kBrowser);
    EXPECT_EQ(moves[0].rect, k.browser);
    EXPECT_EQ(moves[1].rect, k.find);
    EXPECT_EQ(moves[2].rect, k.close);
    EXPECT_EQ(layout.Find(kBrowser)->rect, k.browser);
    EXPECT_EQ(layout.LastClient(), k.client);
    EXPECT_EQ(layout.SizingEdge(), kEdgeNone);
  }
}

TEST(AnchorLayout, SuccessiveDragsAddUpFromTheLastSize) {
  CAnchorLayout layout = ViewerLayout();
  layout.SetSizingEdge(kEdgeRight);
  layout.Resize(Grown(kClient, 0, 0, 100, 0));
  layout.SetSizingEdge(kEdgeRight);
  auto moves = layout.Resize(Grown(kClient, 0, 0, 40, 0));  // back in by 60
  ASSERT_EQ(moves.size(), 3u);
  EXPECT_EQ(moves[0].rect.right, kBrowserRect.right + 40);
  EXPECT_EQ(moves[2].rect, Shifted(kCloseRect, 40, 0));
}

TEST(AnchorLayout, WithoutAnEdgeNothingMovesButTheSizeIsTaken) {
  CAnchorLayout layout = ViewerLayout();
  EXPECT_TRUE(layout.Resize(Grown(kClient, 0, 0, 100, 0)).empty());
  // The next drag counts from the size taken, not from the first one.
  layout.SetSizingEdge(kEdgeRight);
  auto moves = layout.Resize(Grown(kClient, 0, 0, 110, 0));
  ASSERT_EQ(moves.size(), 3u);
  EXPECT_EQ(moves[0].rect.right, kBrowserRect.right + 10);
}

TEST(AnchorLayout, ModesPerEdge) {
  CAnchorLayout layout;
  layout.Start(kClient);
  const AnchorRect r{20, 20, 60, 40};
  layout.AddAnchor(10, r, kAnchorStay, kAnchorStay, kAnchorStay, kAnchorStay, false);
  // Follows the right edge only; the left edge's mode is 0.
  layout.AddAnchor(11, r, kAnchorStay, kAnchorMove, kAnchorStay, kAnchorStay, false);
  // Left mode wins when the left edge moved and has a mode.
  layout.AddAnchor(12, r, kAnchorMove, kAnchorStretch, kAnchorStay, kAnchorStay, false);

  layout.SetSizingEdge(kEdgeRight);
  auto moves = layout.Resize(Grown(kClient, 0, 0, 30, 0));
  ASSERT_EQ(moves.size(), 2u);  // 10 stays, so it is not moved at all
  EXPECT_EQ(moves[0].id, 11);
  EXPECT_EQ(moves[0].rect, Shifted(r, 30, 0));
  EXPECT_EQ(moves[1].id, 12);
  EXPECT_EQ(moves[1].rect, (AnchorRect{20, 20, 90, 40}));  // right-edge mode: stretch

  layout.SetSizingEdge(kEdgeLeft);
  moves = layout.Resize(Grown(Grown(kClient, 0, 0, 30, 0), 20, 0, 0, 0));
  // 11: the left edge moved but its mode is 0 and the right edge did not
  // move, so it stays. 12: the left edge's mode (move) applies.
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].id, 12);
  EXPECT_EQ(moves[0].rect, (AnchorRect{40, 20, 110, 40}));
}

TEST(AnchorLayout, RegisteringAnIdAgainReplacesItsRecord) {
  CAnchorLayout layout;
  layout.Start(kClient);
  layout.AddAnchor(7, {0, 0, 10, 10}, kAnchorMove, kAnchorMove, kAnchorMove, kAnchorMove, false);
  layout.AddAnchor(8, {0, 0, 10, 10}, kAnchorStay, kAnchorStay, kAnchorStay, kAnchorStay, false);
  layout.AddAnchor(7, {5, 5, 15, 15}, kAnchorStay, kAnchorStretch, kAnchorStay, kAnchorStay, true);
  ASSERT_EQ(layout.Anchors().size(), 2u);
  EXPECT_EQ(layout.Anchors()[0].id, 7);  // keeps its place in the order
  EXPECT_EQ(layout.Anchors()[0].rect, (AnchorRect{5, 5, 15, 15}));
  EXPECT_EQ(layout.Anchors()[0].right, kAnchorStretch);
  EXPECT_TRUE(layout.Anchors()[0].excludeFromErase);
}

TEST(AnchorLayout, EdgeFromTheChangeOfTheClientRectangle) {
  const AnchorRect r{100, 100, 300, 200};
  EXPECT_EQ(CAnchorLayout::EdgeBetween(r, {90, 100, 300, 200}), kEdgeLeft);
  EXPECT_EQ(CAnchorLayout::EdgeBetween(r, {100, 100, 310, 200}), kEdgeRight);
  EXPECT_EQ(CAnchorLayout::EdgeBetween(r, {100, 90, 300, 200}), kEdgeTop);
  EXPECT_EQ(CAnchorLayout::EdgeBetween(r, {100, 100, 300, 230}), kEdgeBottom);
  EXPECT_EQ(CAnchorLayout::EdgeBetween(r, {90, 90, 300, 200}), kEdgeTopLeft);
  EXPECT_EQ(CAnchorLayout::EdgeBetween(r, {100, 90, 310, 200}), kEdgeTopRight);
  EXPECT_EQ(CAnchorLayout::EdgeBetween(r, {90, 100, 300, 230}), kEdgeBottomLeft);
  EXPECT_EQ(CAnchorLayout::EdgeBetween(r, {100, 100, 310, 230}), kEdgeBottomRight);
  EXPECT_EQ(CAnchorLayout::EdgeBetween(r, r), kEdgeNone);
  // A plain move is no drag; a resize that also shifted the window (as
  // window managers do) counts as the right and bottom edges.
  EXPECT_EQ(CAnchorLayout::EdgeBetween(r, {110, 120, 310, 220}), kEdgeNone);
  EXPECT_EQ(CAnchorLayout::EdgeBetween(r, {102, 102, 402, 242}), kEdgeBottomRight);
}

namespace {

class ViewerLikeDlg : public CResizeDlg {
 public:
  ViewerLikeDlg() : CResizeDlg(res::IDD_REPORT_VIEWER) {
    browser = Child(kBrowser, kBrowserRect);
    find = Child(kFind, kFindRect);
    close = Child(kClose, kCloseRect);
  }
  QWidget* browser;
  QWidget* find;
  QWidget* close;

 protected:
  void OnInitDialog() override {
    CResizeDlg::OnInitDialog();
    AddAnchor(kBrowser, kAnchorStretch, kAnchorStretch, kAnchorStretch, kAnchorStretch, true);
    AddAnchor(kFind, kAnchorMove, kAnchorMove, kAnchorMove, kAnchorMove, true);
    AddAnchor(kClose, kAnchorMove, kAnchorMove, kAnchorMove, kAnchorMove, true);
  }

 private:
  QWidget* Child(int id, const AnchorRect& r) {
    auto* w = new QWidget(this);
    SetControlId(w, id);
    w->setGeometry(r.left, r.top, r.Width(), r.Height());
    return w;
  }
};

void Settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

}  // namespace

TEST(ResizeDlg, ControlsFollowTheWindowAndItNeverShrinksBelowItsFirstSize) {
  ViewerLikeDlg dlg;
  dlg.move(100, 100);
  dlg.show();
  Settle();
  ASSERT_TRUE(dlg.Initialised());
  const QSize first = dlg.size();
  ASSERT_NE(dlg.SizeGrip(), nullptr);
  EXPECT_EQ(ControlId(dlg.SizeGrip()), res::IDC_SIZE_GRIP);
  EXPECT_EQ(dlg.SizeGrip()->geometry().bottomRight(), dlg.rect().bottomRight());

  dlg.resize(first.width() + 100, first.height() + 40);
  Settle();
  EXPECT_EQ(dlg.browser->geometry(), QRect(kBrowserRect.left, kBrowserRect.top, kBrowserRect.Width() + 100,
                                           kBrowserRect.Height() + 40));
  EXPECT_EQ(dlg.find->pos(), QPoint(kFindRect.left + 100, kFindRect.top + 40));
  EXPECT_EQ(dlg.close->pos(), QPoint(kCloseRect.left + 100, kCloseRect.top + 40));
  EXPECT_EQ(dlg.SizeGrip()->geometry().bottomRight(), dlg.rect().bottomRight());

  // A move alone shifts nothing inside.
  dlg.move(140, 130);
  Settle();
  EXPECT_EQ(dlg.find->pos(), QPoint(kFindRect.left + 100, kFindRect.top + 40));

  // Dragging the left edge out by 50.
  QRect g = dlg.geometry();
  dlg.setGeometry(g.x() - 50, g.y(), g.width() + 50, g.height());
  Settle();
  EXPECT_EQ(dlg.browser->width(), kBrowserRect.Width() + 150);
  EXPECT_EQ(dlg.browser->x(), kBrowserRect.left);
  EXPECT_EQ(dlg.width() - dlg.close->geometry().right(), first.width() - kCloseRect.right + 1);

  dlg.resize(first.width() - 200, first.height() - 100);
  Settle();
  EXPECT_EQ(dlg.size(), first);
  EXPECT_EQ(dlg.browser->size(), QSize(kBrowserRect.Width(), kBrowserRect.Height()));
}

TEST(ResizeDlg, GrowthCanBeLimitedToOneDirection) {
  ViewerLikeDlg dlg;
  dlg.show();
  Settle();
  const QSize first = dlg.size();
  dlg.AllowGrowth(true, false);
  dlg.resize(first.width() + 30, first.height() + 30);
  Settle();
  EXPECT_EQ(dlg.size(), QSize(first.width() + 30, first.height()));
}
