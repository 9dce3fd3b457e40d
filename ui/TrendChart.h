#pragma once
// The chart of the trend window: one directory's bytes over every snapshot of
// its base path, and below it, where the snapshots recorded their file
// system, its used space and size with the forecast line. Both plots share a
// time axis: a point sits at its snapshot's date, so a gap of a month looks
// like one. The axis reaches on to the forecast date when that lies within
// three times the snapshots' span after the last one (the snapshots keep a
// quarter of the width at least); further out the line runs to the edge and
// the date is only written below the chart.
//
// As the grid's chart does, it lays out first (LayOut, for the widget's size
// and font) and paints what the layout says. It keeps a copy of the report.

#include <vector>

#include <QLineF>
#include <QPointF>
#include <QRectF>
#include <QWidget>

#include "analysis/Trend.h"
#include "ui/ChartWidget.h"

namespace corvina {

struct TrendChartLayout {
    ChartText Title;               // in TitleFont
    std::vector<ChartText> Texts;  // axis labels, plot captions, the forecast date
    std::vector<ChartText> Legend;
    std::vector<QRectF> Swatches;  // one per legend text
    QRectF DirectoryPlot;
    QRectF FilesystemPlot;  // empty when no snapshot recorded its file system
    std::vector<QLineF> GridLines;
    std::vector<QPointF> Directory;  // one per snapshot with its figure, oldest first
    std::vector<QPointF> Used;       // one per snapshot with file system figures
    std::vector<QPointF> Size;       // and the last size again at the axis's end
    QLineF ForecastLine;  // null without a forecast that fills
    QLineF FullMark;      // the forecast date, when inside the axis
};

class TrendChart : public QWidget {
    Q_OBJECT
public:
    explicit TrendChart(QWidget* parent = nullptr);

    void SetReport(const TrendReport& report);
    const TrendReport& Report() const { return report_; }

    QFont TitleFont() const;
    TrendChartLayout LayOut() const;

    static QColor DirectoryColour();
    static QColor UsedColour();
    static QColor SizeColour();
    static QColor ForecastColour();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TrendReport report_;
};

}  // namespace corvina
