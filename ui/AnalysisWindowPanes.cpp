// The analysis window's panes on screen: the geometry of PaneLayout turned
// into pixels, and the mouse over the pane edges turned into splitter moves.

#include <QEvent>
#include <QGuiApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTreeView>

#include "ui/AnalysisWindow.h"
#include "ui/ChartWidget.h"
#include "ui/ResultGridView.h"
#include "ui/Twips.h"

namespace corvina {

namespace {

int PixelsToTwips(double pixels, const QWidget& widget) {
    return static_cast<int>(pixels * 1440.0 / widget.logicalDpiX());
}

void Apply(QWidget& widget, const TwipRect& rect) {
    widget.setGeometry(TwipsToPixels(rect.Left, widget), TwipsToPixels(rect.Top, widget),
                       TwipsToPixels(rect.Width, widget), TwipsToPixels(rect.Height, widget));
}

// What shows a splitter: a short row of dots across the middle of the strip a
// pointer can grab. The mouse goes through it to the frame, which drags.
class PaneGrip : public QWidget {
public:
    PaneGrip(const char* name, QWidget& frame) : QWidget(&frame) {
        setObjectName(name);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(QPalette::Dark));
        const bool across = width() > height();
        for (int i = -3; i <= 3; ++i) {
            painter.drawEllipse(QPointF(rect().center()) + (across ? QPointF(i * 5, 0) : QPointF(0, i * 5)), 1.3, 1.3);
        }
    }
};

// The grip lies in the part of the frame the control inside leaves free.
void ApplyGrip(QWidget& frame, const char* name, const TwipRect& rect) {
    auto* grip = frame.findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
    if (grip == nullptr) grip = new PaneGrip(name, frame);
    Apply(*grip, rect);
    grip->show();
}

}  // namespace

void AnalysisWindow::ApplyPanes() {
    Apply(*frmnode_, panes_.frmnode);
    Apply(*frmdisp_, panes_.frmdisp);
    Apply(*frmgraph_, panes_.frmgraph);
    Apply(*tvdir_, panes_.tvdir);
    Apply(*grdanal_, panes_.grdanal);
    Apply(*grpdisp_, panes_.grpdisp);
    const TwipRect& grid = panes_.grdanal;
    ApplyGrip(*frmdisp_, "gripgrid", {grid.Left, grid.Bottom(), grid.Width, panes_.frmdisp.Height - grid.Bottom()});
    const TwipRect& tree = panes_.tvdir;
    ApplyGrip(*frmnode_, "griptree", {tree.Right(), tree.Top, panes_.frmnode.Width - tree.Right(), tree.Height});
    Apply(*lblgraph_, TwipRect{480, 720, std::max(panes_.frmgraph.Width - 600, 0), 495});
    // The window may not shrink below the panes' smallest sizes, which a
    // splitter move changes, nor below the snapshot rows' smallest width,
    // where labels, dates and buttons are whole.
    QWidget* area = centralWidget();
    int smallestWidth = TwipsToPixels(panes_.MinimumWidth(), *area);
    if (auto* rows = area->findChild<QWidget*>("snapshotrows")) {
        const int margin = TwipsToPixels(60, *area);
        rows->setGeometry(margin, margin, std::max(area->width() - 2 * margin, rows->minimumSizeHint().width()),
                          TwipsToPixels(840, *area));
        smallestWidth = std::max(smallestWidth, rows->minimumSizeHint().width() + 2 * margin);
    }
    area->setMinimumSize(smallestWidth, TwipsToPixels(panes_.MinimumHeight(), *area));
}

void AnalysisWindow::ShowPointer(QWidget& frame, PanePointer pointer) {
    switch (pointer) {
        case PanePointer::NorthSouth: frame.setCursor(Qt::SizeVerCursor); break;
        case PanePointer::WestEast: frame.setCursor(Qt::SizeHorCursor); break;
        case PanePointer::Default: frame.unsetCursor(); break;
    }
}

bool AnalysisWindow::PaneMouseEvent(QObject* watched, QEvent* event) {
    QWidget* area = centralWidget();
    if (watched == area) {
        if (event->type() == QEvent::Resize && !isMinimized()) {
            panes_.Resize(PixelsToTwips(area->width(), *area), PixelsToTwips(area->height(), *area));
            ApplyPanes();
        }
        return false;
    }
    const bool grid = watched == frmdisp_;
    if (!grid && watched != frmnode_) return false;
    QWidget& frame = *static_cast<QWidget*>(watched);
    switch (event->type()) {
        case QEvent::MouseMove: {
            auto* move = static_cast<QMouseEvent*>(event);
            const bool left = (move->buttons() & Qt::LeftButton) != 0;
            const QPointF at = move->position();
            const PanePointer pointer = grid ? panes_.MoveOverGridPane(PixelsToTwips(at.y(), frame), left)
                                             : panes_.MoveOverTreePane(PixelsToTwips(at.x(), frame), left);
            ShowPointer(frame, pointer);
            if (left && panes_.SplitterDrag == "Y") ApplyPanes();
            return false;
        }
        case QEvent::MouseButtonRelease:
        case QEvent::Leave:
            // Leaving a pane for the grid, the tree or the background ends the
            // hover; a held button keeps the moves coming to this frame.
            if (event->type() == QEvent::Leave && (QGuiApplication::mouseButtons() & Qt::LeftButton) != 0) return false;
            if (panes_.SplitterDrag == "Y") ShowPointer(frame, panes_.EndDrag());
            return false;
        default: return false;
    }
}

}  // namespace corvina
