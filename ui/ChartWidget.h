#pragma once
// grpdisp: the small chart beside the result grid. It paints the points the
// analysis engine collected (DrawChart): bars, vertical or horizontal, or a
// pie, each flat or with depth, under the title "Analysis of ...", the value
// axis running from 0 to the largest value, each point in its own colour with
// its label. It keeps a copy of the data it shows.

#include <QColor>
#include <QWidget>

#include "analysis/ChartData.h"

namespace corvina {

class ChartWidget : public QWidget {
    Q_OBJECT
public:
    explicit ChartWidget(QWidget* parent = nullptr);

    void SetChart(const ChartData& chart);
    const ChartData& Chart() const { return chart_; }

    // The colour of point i (1 for the first point).
    static QColor PointColour(int index);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void PaintBars(QPainter& painter, const QRect& area, bool depth, bool horizontal) const;
    void PaintPie(QPainter& painter, const QRect& area, bool depth) const;
    double AxisMax() const;

    ChartData chart_;
};

}  // namespace corvina
