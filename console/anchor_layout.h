#pragma once

// The arithmetic of a resizable dialog: controls registered with one mode
// per edge follow the window's edges when the user drags one of them.
// Rectangles are left/top inclusive, right/bottom exclusive.

#include <cstdint>
#include <vector>

struct AnchorRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  friend bool operator==(const AnchorRect&, const AnchorRect&) = default;
};

// What an edge of a control does when the window edge it follows moves.
enum AnchorMode : std::uint8_t {
  kAnchorStay = 0,
  kAnchorStretch = 1,  // the control's far edge follows (it grows)
  kAnchorMove = 2,     // the whole control follows
};

// The window edge being dragged, numbered as the system numbers them.
enum SizingEdge : int {
  kEdgeNone = 0,
  kEdgeLeft = 1,
  kEdgeRight = 2,
  kEdgeTop = 3,
  kEdgeTopLeft = 4,
  kEdgeTopRight = 5,
  kEdgeBottom = 6,
  kEdgeBottomLeft = 7,
  kEdgeBottomRight = 8,
};

class CAnchorLayout {
 public:
  struct Anchor {
    int id = 0;
    AnchorMode left = kAnchorStay;
    AnchorMode right = kAnchorStay;
    AnchorMode top = kAnchorStay;
    AnchorMode bottom = kAnchorStay;
    bool excludeFromErase = false;
    AnchorRect rect;  // in client coordinates, as last placed
  };
  struct Placement {
    int id = 0;
    AnchorRect rect;
  };

  // The client rectangle (screen coordinates) when the dialog opens.
  void Start(const AnchorRect& client);

  // Registers a control with its current rectangle (client coordinates);
  // registering an id again replaces its record.
  void AddAnchor(int id, const AnchorRect& rect, AnchorMode left, AnchorMode right, AnchorMode top,
                 AnchorMode bottom, bool excludeFromErase);

  // The edge reported by the last edge drag.
  void SetSizingEdge(int edge) { sizingEdge_ = edge; }
  int SizingEdge() const { return sizingEdge_; }

  // The client area now is `client` (screen coordinates): the controls that
  // move, with their new rectangles, in registration order. Forgets the
  // sizing edge and remembers `client` as the last client rectangle.
  std::vector<Placement> Resize(const AnchorRect& client);

  const std::vector<Anchor>& Anchors() const { return anchors_; }
  const Anchor* Find(int id) const;
  const AnchorRect& LastClient() const { return last_; }
  const AnchorRect& InitialClient() const { return initial_; }

  // The edge a change of the client rectangle from `before` to `after`
  // amounts to; kEdgeNone when its size did not change (a plain move).
  static int EdgeBetween(const AnchorRect& before, const AnchorRect& after);

 private:
  std::vector<Anchor> anchors_;
  AnchorRect initial_;
  AnchorRect last_;
  int sizingEdge_ = kEdgeNone;
};
