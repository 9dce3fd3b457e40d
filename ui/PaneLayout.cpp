#include "ui/PaneLayout.h"

#include <algorithm>
#include <cmath>

namespace corvina {

void PaneLayout::Resize(int width, int height) {
    width = std::max(width, MinimumWidth());
    height = std::max(height, MinimumHeight());
    frmdisp.Width = width - frmdisp.Left - kRightMargin;
    frmgraph.Width = width - frmgraph.Left - kRightMargin;
    const int gap = frmgraph.Top - frmdisp.Bottom();
    const int shared = height - kBottomMargin - frmdisp.Top - gap;
    frmdisp.Height = std::clamp(static_cast<int>(std::lround(shared * gridShare_)), kSmallestDraggedHeight,
                                std::max(kSmallestDraggedHeight, shared - kSmallestDraggedHeight));
    frmgraph.Top = frmdisp.Bottom() + gap;
    frmgraph.Height = shared - frmdisp.Height;
    frmnode.Height = height - frmnode.Top - kBottomMargin;
    FitGrid();
    FitChart();
    FitTree();
}

// A computed size below zero (a pane at its smallest) is shown as nothing.
void PaneLayout::FitGrid() {
    grdanal.Width = std::max(frmdisp.Width - 200, 0);
    grdanal.Height = std::max(frmdisp.Height - 400, 0);
}

// The chart fills its pane, keeping a margin like the grid's.
void PaneLayout::FitChart() {
    grpdisp.Width = std::max(frmgraph.Width - grpdisp.Left - 120, 0);
    grpdisp.Height = std::max(frmgraph.Height - 500, 0);
}

void PaneLayout::FitTree() {
    tvdir.Width = std::max(frmnode.Width - 250, 0);
    tvdir.Height = std::max(frmnode.Height - 500, 0);
}

PanePointer PaneLayout::MoveOverGridPane(int y, bool leftButton) {
    const int d = frmdisp.Height - y;  // distance above the pane's bottom edge
    if (!leftButton) {
        const bool inZone = d > 0 && d < kGridGrabZone;
        SplitterDrag = inZone ? "Y" : "N";
        current_ = inZone ? PanePointer::NorthSouth : PanePointer::Default;
        return current_;
    }
    if (SplitterDrag != "Y") return current_;
    if (frmdisp.Height - d >= kSmallestDraggedHeight && frmgraph.Height + d >= kSmallestDraggedHeight) {
        frmdisp.Height -= d;
        frmgraph.Top -= d;
        frmgraph.Height += d;
        gridShare_ = frmdisp.Height / static_cast<double>(frmdisp.Height + frmgraph.Height);
        FitGrid();
        FitChart();
    }
    return current_;
}

PanePointer PaneLayout::MoveOverTreePane(int x, bool leftButton) {
    const int d = frmnode.Width - x;  // distance from the pane's right edge
    if (!leftButton) {
        const bool inZone = d > 0 && d < kTreeGrabZone;
        SplitterDrag = inZone ? "Y" : "N";
        current_ = inZone ? PanePointer::WestEast : PanePointer::Default;
        return current_;
    }
    if (SplitterDrag != "Y") return current_;
    if (frmnode.Width - d >= kSmallestDraggedWidth && grdanal.Width + d >= kSmallestDraggedWidth) {
        frmnode.Width -= d;
        frmdisp.Left -= d;
        frmdisp.Width += d;
        grdanal.Width = frmdisp.Width - 250;
        frmgraph.Left = frmdisp.Left;
        frmgraph.Width = frmdisp.Width;
        FitChart();
        FitTree();
    }
    return current_;
}

PanePointer PaneLayout::EndDrag() {
    SplitterDrag = "N";
    current_ = PanePointer::Default;
    return current_;
}

}  // namespace corvina
