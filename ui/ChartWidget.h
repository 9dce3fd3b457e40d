#pragma once
// grpdisp: the small chart beside the result grid. It paints the points the
// analysis engine collected (DrawChart): bars, vertical or horizontal, or a
// pie, each flat or with depth, under the title "Analysis of ...", the value
// axis taking in 0 and every value in round steps, each point in its own
// colour with its label. It keeps a copy of the data it shows.
//
// Painting goes in two steps: LayOut works out where every text, line and
// bar goes for the widget's size and font, so that no text is cut or lies on
// another; paintEvent draws what it says. A point's tooltip is its whole
// first-column text.

#include <vector>

#include <QColor>
#include <QFontMetricsF>
#include <QLineF>
#include <QRectF>
#include <QWidget>

#include "analysis/ChartData.h"

namespace corvina {

struct ChartText {
    QRectF Box;  // just wide and high enough for Text in the chart's TextFont
    QString Text;
};

// A box just big enough for text, placed against (x, y) as align says: left
// aligned starts at x, right aligned ends there, centred is centred on it.
ChartText TextAt(const QFontMetricsF& metrics, const QString& text, double x, double y, Qt::Alignment align);

struct ChartLayout {
    ChartText Title;               // in TitleFont
    std::vector<ChartText> Texts;  // ticks, point labels, values, legend
    QRectF Plot;                   // bars: the value axis's span; pie: the pie's box
    std::vector<QLineF> GridLines;  // one per tick
    std::vector<QLineF> AxisLines;  // the value axis and the line of value 0
    std::vector<QRectF> Bars;       // front faces, one per point
    double Depth = 0;
    std::vector<QRectF> Swatches;  // pie legend, one per listed point
    // Where the pointer names a point: its bar's slot across the chart, or
    // its line of the pie's legend; the index is the point's.
    std::vector<QRectF> PointAreas;
};

class ChartWidget : public QWidget {
    Q_OBJECT
public:
    explicit ChartWidget(QWidget* parent = nullptr);

    void SetChart(const ChartData& chart);
    const ChartData& Chart() const { return chart_; }

    // The colour of point i (1 for the first point).
    static QColor PointColour(int index);

    QFont TitleFont() const;
    QFont TextFont() const;
    ChartLayout LayOut() const;
    // The whole text of the point under pos (a bar's full path where its
    // label shows only the last element); empty where no point is.
    QString ToolTipAt(const QPointF& pos) const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void PaintBars(QPainter& painter, const ChartLayout& layout) const;
    void PaintPie(QPainter& painter, const ChartLayout& layout) const;

    ChartData chart_;
};

}  // namespace corvina
