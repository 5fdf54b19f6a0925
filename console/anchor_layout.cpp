#include "console/anchor_layout.h"

#include <algorithm>

namespace {

struct MovedEdges {
  bool left = false;
  bool right = false;
  bool top = false;
  bool bottom = false;
};

MovedEdges EdgesOf(int edge) {
  switch (edge) {
    case kEdgeLeft: return {true, false, false, false};
    case kEdgeRight: return {false, true, false, false};
    case kEdgeTop: return {false, false, true, false};
    case kEdgeTopLeft: return {true, false, true, false};
    case kEdgeTopRight: return {false, true, true, false};
    case kEdgeBottom: return {false, false, false, true};
    case kEdgeBottomLeft: return {true, false, false, true};
    case kEdgeBottomRight: return {false, true, false, true};
    default: return {};
  }
}

// The mode of the first edge that moved and has a mode, else of the other
// edge if it moved, else none.
AnchorMode Pick(bool nearMoved, AnchorMode nearMode, bool farMoved, AnchorMode farMode) {
  if (nearMoved && nearMode != kAnchorStay) return nearMode;
  if (farMoved) return farMode;
  return kAnchorStay;
}

}  // namespace

void CAnchorLayout::Start(const AnchorRect& client) {
  initial_ = client;
  last_ = client;
  sizingEdge_ = kEdgeNone;
}

void CAnchorLayout::AddAnchor(int id, const AnchorRect& rect, AnchorMode left, AnchorMode right,
                              AnchorMode top, AnchorMode bottom, bool excludeFromErase) {
  Anchor anchor{id, left, right, top, bottom, excludeFromErase, rect};
  auto it = std::find_if(anchors_.begin(), anchors_.end(), [id](const Anchor& a) { return a.id == id; });
  if (it != anchors_.end()) {
    *it = anchor;
  } else {
    anchors_.push_back(anchor);
  }
}

const CAnchorLayout::Anchor* CAnchorLayout::Find(int id) const {
  auto it = std::find_if(anchors_.begin(), anchors_.end(), [id](const Anchor& a) { return a.id == id; });
  return it == anchors_.end() ? nullptr : &*it;
}

std::vector<CAnchorLayout::Placement> CAnchorLayout::Resize(const AnchorRect& client) {
  std::vector<Placement> moves;
  if (sizingEdge_ != kEdgeNone && !anchors_.empty()) {
    MovedEdges moved = EdgesOf(sizingEdge_);
    int dW = client.Width() - last_.Width();
    int dH = client.Height() - last_.Height();
    for (Anchor& a : anchors_) {
      AnchorRect r = a.rect;
      switch (Pick(moved.left, a.left, moved.right, a.right)) {
        case kAnchorStretch: r.right += dW; break;
        case kAnchorMove:
          r.left += dW;
          r.right += dW;
          break;
        default: break;
      }
      switch (Pick(moved.top, a.top, moved.bottom, a.bottom)) {
        case kAnchorStretch: r.bottom += dH; break;
        case kAnchorMove:
          r.top += dH;
          r.bottom += dH;
          break;
        default: break;
      }
      if (r == a.rect) continue;
      a.rect = r;
      moves.push_back({a.id, r});
    }
  }
  last_ = client;
  sizingEdge_ = kEdgeNone;
  return moves;
}

int CAnchorLayout::EdgeBetween(const AnchorRect& before, const AnchorRect& after) {
  // Only a change of size is a drag; of a side whose size changed, the
  // edge dragged is the left (top) one when the right (bottom) one stayed,
  // else the right (bottom) one.
  bool left = false, right = false, top = false, bottom = false;
  if (after.Width() != before.Width()) {
    left = after.right == before.right;
    right = !left;
  }
  if (after.Height() != before.Height()) {
    top = after.bottom == before.bottom;
    bottom = !top;
  }
  if (left && top) return kEdgeTopLeft;
  if (right && top) return kEdgeTopRight;
  if (left && bottom) return kEdgeBottomLeft;
  if (right && bottom) return kEdgeBottomRight;
  if (left) return kEdgeLeft;
  if (right) return kEdgeRight;
  if (top) return kEdgeTop;
  if (bottom) return kEdgeBottom;
  return kEdgeNone;
}
