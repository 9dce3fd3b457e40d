#pragma once
// The panes of the analysis window as plain geometry in twips: the tree pane
// (frmnode holding tvdir) at the left, the grid pane (frmdisp holding grdanal)
// at the top right and the chart pane (frmgraph holding grpdisp) below it.
// A change of window size stretches the grid and chart panes in width and
// shares the height between them in the proportion the horizontal splitter
// left them; the tree pane grows in height and keeps its width, which only the
// vertical splitter changes. The splitters are the exposed edge strips of the
// grid pane's bottom and the tree pane's right side.
//
// Sizes are those of the window's client area below the menu bar and above
// the status bar. The window converts to pixels and applies the rectangles.

#include <algorithm>
#include <string>

namespace corvina {

struct TwipRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    int Right() const { return Left + Width; }
    int Bottom() const { return Top + Height; }
    bool operator==(const TwipRect&) const = default;
};

enum class PanePointer { Default, NorthSouth, WestEast };

class PaneLayout {
public:
    // Room kept between the panes and the right and bottom edges.
    static constexpr int kRightMargin = 120;
    static constexpr int kBottomMargin = 60;
    // The least a pane may keep while the window shrinks or a splitter moves;
    // the grid and chart panes keep kSmallestDraggedHeight either way.
    static constexpr int kSmallestGridPaneWidth = 400;
    static constexpr int kSmallestChartPaneHeight = 300;
    static constexpr int kSmallestDraggedHeight = 700;
    static constexpr int kSmallestDraggedWidth = 500;
    // The grab zones: up to this far above the grid pane's bottom, left of the
    // tree pane's right edge. The grid and the tree cover all but the strips
    // below and beside them, 160 and 130, which are what a pointer can reach.
    static constexpr int kGridGrabZone = 300;
    static constexpr int kTreeGrabZone = 150;

    TwipRect frmnode{0, 960, 3255, 6495};
    TwipRect frmdisp{3360, 960, 8535, 3495};
    TwipRect frmgraph{3360, 4440, 8535, 3015};
    // Inside their frames.
    TwipRect tvdir{120, 240, 3015, 6135};
    TwipRect grdanal{120, 240, 8295, 3135};
    TwipRect grpdisp{360, 240, 4095, 2655};
    // "Y" while the pointer rests in a grab zone or a drag is under way.
    std::string SplitterDrag = "N";

    // The smallest client area. At the design's split the right-hand panes
    // keep room for the chart at its design width, 4095, and its margins; a
    // tree pane dragged wider takes from that room down to the grid pane's
    // least width, as the splitter may. The height is the design's chart
    // pane top and 300 below it wherever the splitter is, so that a window
    // grown and shrunk again can reach its old size.
    static constexpr int kChartPaneDesignWidth = 360 + 4095 + 120;
    int MinimumWidth() const {
        return std::max(frmdisp.Left + kSmallestGridPaneWidth, 3360 + kChartPaneDesignWidth) + kRightMargin;
    }
    static constexpr int MinimumHeight() { return 4440 + kSmallestChartPaneHeight + kBottomMargin; }

    // The resize rule; a size below the minimum is taken as the minimum.
    void Resize(int width, int height);

    // Pointer moves over the grid pane (y in the frame's coordinates) and the
    // tree pane (x in its coordinates), with or without the left button held.
    // The result is the pointer to show; a drag that would leave a pane too
    // small moves nothing.
    PanePointer MoveOverGridPane(int y, bool leftButton);
    PanePointer MoveOverTreePane(int x, bool leftButton);
    // Button released over a pane, or the pointer went over another control.
    PanePointer EndDrag();

    void FitGrid();
    void FitChart();
    void FitTree();

private:
    PanePointer current_ = PanePointer::Default;
    // The grid pane's part of the height it shares with the chart pane, kept
    // apart from the rounded heights so that many small resizes do not drift.
    double gridShare_ = 3495.0 / (3495 + 3000);
};

}  // namespace corvina
