#include "ui/TrendChart.h"

#include <algorithm>
#include <cmath>

#include <QDateTime>
#include <QPainter>
#include <QTimeZone>

#include "analysis/ChartAxis.h"
#include "store/HostLabel.h"

namespace corvina {

namespace {

constexpr double kGap = 8;
constexpr double kDot = 3;

// Calendar steps of the time axis, in days: hours, days, weeks, months, years.
constexpr double kTimeSteps[] = {1.0 / 24, 2.0 / 24, 3.0 / 24, 6.0 / 24, 12.0 / 24, 1,       2,       7,
                                 14,       30.436875, 91.310625, 182.62125, 365.2425, 730.485, 1826.2125,
                                 3652.425};

struct TimeAxis {
    double Low = 0;
    double High = 1;
    std::vector<double> Ticks;
    std::vector<QString> Labels;
};

// Keys count as UTC days (see DaysOf), so they go back the same way.
QString DayText(double day, bool withTime) {
    const QDateTime date = QDateTime::fromSecsSinceEpoch(std::llround(day * 86400.0), QTimeZone::utc());
    return date.toString(withTime ? "yyyy-MM-dd HH:mm" : "yyyy-MM-dd");
}

// The smallest calendar step whose labels fit side by side in width.
TimeAxis ChooseTimeAxis(double low, double high, const QFontMetricsF& metrics, double width) {
    TimeAxis axis{low, high, {}, {}};
    double step = kTimeSteps[std::size(kTimeSteps) - 1];
    for (double candidate : kTimeSteps) {
        const double label = metrics.horizontalAdvance(DayText(low, candidate < 1)) + 2 * kGap;
        if ((high - low) / candidate * label <= width) {
            step = candidate;
            break;
        }
    }
    for (double tick = std::ceil(low / step - 1e-9) * step; tick <= high + 1e-9; tick += step) {
        axis.Ticks.push_back(tick);
        axis.Labels.push_back(DayText(tick, step < 1));
    }
    return axis;
}

// Values shown in a binary unit that keeps them under 10,000.
struct ValueAxis {
    double Unit = 1;
    QString UnitName = "bytes";
    ChartAxis Axis;
};

ValueAxis ChooseValueAxis(double low, double high) {
    static const char* const kUnits[] = {"bytes", "KB", "MB", "GB", "TB", "PB"};
    ValueAxis value;
    for (std::size_t k = 1; k < std::size(kUnits) && std::max(high, -low) / value.Unit >= 10000; ++k) {
        value.Unit *= 1024;
        value.UnitName = kUnits[k];
    }
    value.Axis = ChooseChartAxis(low / value.Unit, high / value.Unit, false, 4);
    return value;
}

double UsedOnLine(const Forecast& forecast, double day) {
    return forecast.MeanUsed + forecast.BytesPerDay * (day - forecast.MeanDay);
}

// What the plots show, in days and bytes.
struct Series {
    std::vector<QPointF> Directory;
    std::vector<QPointF> Used;
    std::vector<QPointF> Size;
    QLineF Forecast;  // null without a filling forecast
    double FullDay = 0;
    bool FullInside = false;
    double Low = 0;
    double High = 1;
};

Series ReadSeries(const TrendReport& report) {
    Series series;
    for (const TrendPoint& point : report.Points) {
        const double day = DaysOf(point.Snapshot);
        // A snapshot without on-disk figures has no point on a line on disk.
        if (point.Measured) series.Directory.emplace_back(day, point.Bytes);
        if (!point.Filesystem) continue;
        const double size = static_cast<double>(point.Filesystem->Fssize);
        series.Used.emplace_back(day, size - static_cast<double>(point.Filesystem->Fsfree));
        series.Size.emplace_back(day, size);
    }
    if (report.Points.empty()) return series;
    // The time axis spans every snapshot, measured on disk or not.
    series.Low = DaysOf(report.Points.front().Snapshot);
    series.High = DaysOf(report.Points.back().Snapshot);
    const double span = series.High - series.Low;
    const Forecast& full = report.Full;
    if (full.State == ForecastState::Filling && !series.Used.empty()) {
        const double start = series.Used.front().x();
        double end = series.High;
        if (full.FullOn) {
            series.FullDay = DaysOf(*full.FullOn);
            series.FullInside = series.FullDay <= series.High + 3 * span;
            if (series.FullInside) end = series.High = std::max(series.High, series.FullDay);
        }
        series.Forecast = QLineF(start, UsedOnLine(full, start), end, UsedOnLine(full, end));
    }
    if (series.High - series.Low < 1.0 / 24) {
        series.Low -= 0.5;
        series.High += 0.5;
    }
    return series;
}

// A plot's value ticks and caption.
void LayOutValueAxis(const QRectF& plot, const ValueAxis& value, const QString& caption, const QFontMetricsF& metrics,
                     TrendChartLayout& out) {
    const ChartAxis& axis = value.Axis;
    for (std::size_t i = 0; i < axis.Ticks.size(); ++i) {
        const double y = plot.bottom() - (axis.Ticks[i] - axis.Low()) / (axis.High() - axis.Low()) * plot.height();
        out.GridLines.emplace_back(plot.left(), y, plot.right(), y);
        out.Texts.push_back(
            TextAt(metrics, QString::fromStdString(axis.Labels[i]), plot.left() - kGap / 2, y, Qt::AlignRight));
    }
    out.Texts.push_back(TextAt(metrics, caption + " (" + value.UnitName + ")", plot.left(), plot.top() - kGap / 2,
                               Qt::AlignLeft | Qt::AlignBottom));
}

QPointF Place(const QRectF& plot, const TimeAxis& time, const ValueAxis& value, QPointF point) {
    const ChartAxis& axis = value.Axis;
    return {plot.left() + (point.x() - time.Low) / (time.High - time.Low) * plot.width(),
            plot.bottom() - (point.y() / value.Unit - axis.Low()) / (axis.High() - axis.Low()) * plot.height()};
}

void LayOutLegend(const QRectF& area, double top, const QFontMetricsF& metrics, const std::vector<QString>& names,
                  TrendChartLayout& out) {
    const double swatch = std::ceil(metrics.height() * 0.7);
    double width = 0;
    for (const QString& name : names) width += swatch + kGap / 2 + metrics.horizontalAdvance(name) + 2 * kGap;
    double x = area.center().x() - width / 2;
    const double middle = top + std::ceil(metrics.height()) / 2;
    for (const QString& name : names) {
        out.Swatches.emplace_back(x, middle - swatch / 2, swatch, swatch);
        out.Legend.push_back(TextAt(metrics, name, x + swatch + kGap / 2, middle, Qt::AlignLeft));
        x = out.Legend.back().Box.right() + 2 * kGap;
    }
}

double Widest(const QFontMetricsF& metrics, const ChartAxis& axis) {
    double widest = 0;
    for (const std::string& label : axis.Labels) {
        widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(label)));
    }
    return std::ceil(widest) + 1;
}

double Highest(const std::vector<QPointF>& points, double high) {
    for (const QPointF& point : points) high = std::max(high, point.y());
    return high;
}

void PolyLine(QPainter& painter, const std::vector<QPointF>& points, const QPen& pen, bool dots) {
    if (points.empty()) return;
    painter.setPen(pen);
    painter.drawPolyline(points.data(), static_cast<int>(points.size()));
    if (!dots) return;
    painter.setBrush(pen.color());
    for (const QPointF& point : points) painter.drawEllipse(point, kDot, kDot);
    painter.setBrush(Qt::NoBrush);
}

}  // namespace

TrendChart::TrendChart(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(360, 260);
}

void TrendChart::SetReport(const TrendReport& report) {
    report_ = report;
    update();
}

QFont TrendChart::TitleFont() const {
    QFont title = font();
    title.setBold(true);
    return title;
}

QColor TrendChart::DirectoryColour() { return QColor(0x1f, 0x5f, 0xbf); }
QColor TrendChart::UsedColour() { return QColor(0xd0, 0x6a, 0x00); }
QColor TrendChart::SizeColour() { return QColor(0x70, 0x70, 0x70); }
QColor TrendChart::ForecastColour() { return QColor(0xc0, 0x10, 0x10); }

TrendChartLayout TrendChart::LayOut() const {
    TrendChartLayout out;
    const QFontMetricsF metrics(font());
    const QFontMetricsF titleMetrics(TitleFont());
    const double line = std::ceil(metrics.height());
    const QRectF area = QRectF(rect()).adjusted(kGap, kGap, -kGap, -kGap);
    // The host where the database holds several: a saved chart says whose disk it is.
    const std::string host = report_.Host ? " (" + HostDisplayName(*report_.Host) + ")" : std::string();
    const QString title = titleMetrics.elidedText(
        "Trend of " + QString::fromStdString(report_.Directory + BasisSuffix(report_.Basis) + host), Qt::ElideMiddle,
        area.width());
    out.Title = TextAt(titleMetrics, title, area.center().x(), area.top(), Qt::AlignHCenter | Qt::AlignTop);

    const Series series = ReadSeries(report_);
    const bool filesystem = !series.Used.empty();
    std::vector<QString> names{report_.Basis == SizeBasis::Disk ? "Directory on disk" : "Directory"};
    if (filesystem) names.insert(names.end(), {"File system used", "File system size"});
    if (!series.Forecast.isNull()) names.push_back("Forecast");
    LayOutLegend(area, out.Title.Box.bottom() + kGap / 2, metrics, names, out);

    // Both plots share the left strip, as wide as the widest value label.
    const ValueAxis directoryAxis = ChooseValueAxis(0, Highest(series.Directory, 0));
    double fsLow = 0, fsHigh = Highest(series.Size, Highest(series.Used, 0));
    if (!series.Forecast.isNull()) fsLow = std::min({fsLow, series.Forecast.y1(), series.Forecast.y2()});
    const ValueAxis fsAxis = ChooseValueAxis(fsLow, fsHigh);
    const double strip = std::max(Widest(metrics, directoryAxis.Axis), filesystem ? Widest(metrics, fsAxis.Axis) : 0);
    const double left = area.left() + strip + kGap;
    const double top = out.Legend.front().Box.bottom() + kGap + line;
    const double bottom = area.bottom() - line - kGap / 2;
    const double height = filesystem ? (bottom - top - kGap - line) / 2 : bottom - top;
    const double right = area.right() - kGap;
    out.DirectoryPlot = QRectF(left, top, right - left, std::max(1.0, height));
    if (filesystem) out.FilesystemPlot = QRectF(left, bottom - height, right - left, std::max(1.0, height));

    const TimeAxis time = ChooseTimeAxis(series.Low, series.High, metrics, right - left);
    for (std::size_t i = 0; i < time.Ticks.size(); ++i) {
        const double x = left + (time.Ticks[i] - time.Low) / (time.High - time.Low) * (right - left);
        const double last = filesystem ? out.FilesystemPlot.bottom() : out.DirectoryPlot.bottom();
        out.GridLines.emplace_back(x, out.DirectoryPlot.top(), x, last);
        ChartText label = TextAt(metrics, time.Labels[i], x, last + kGap / 2, Qt::AlignHCenter | Qt::AlignTop);
        // The last tick may sit on the plot's edge: its label stays inside the widget.
        label.Box.moveRight(std::min(label.Box.right(), area.right()));
        out.Texts.push_back(label);
    }

    LayOutValueAxis(out.DirectoryPlot, directoryAxis, "Directory", metrics, out);
    for (const QPointF& point : series.Directory) out.Directory.push_back(Place(out.DirectoryPlot, time, directoryAxis, point));
    if (!filesystem) return out;
    LayOutValueAxis(out.FilesystemPlot, fsAxis, "File system", metrics, out);
    const QRectF& fs = out.FilesystemPlot;
    for (const QPointF& point : series.Used) out.Used.push_back(Place(fs, time, fsAxis, point));
    for (const QPointF& point : series.Size) out.Size.push_back(Place(fs, time, fsAxis, point));
    // The size last recorded is what the forecast fills: it goes on to the axis's end.
    out.Size.push_back(Place(fs, time, fsAxis, {time.High, series.Size.back().y()}));
    if (series.Forecast.isNull()) return out;
    out.ForecastLine = QLineF(Place(fs, time, fsAxis, series.Forecast.p1()), Place(fs, time, fsAxis, series.Forecast.p2()));
    if (series.FullInside) {
        const double x = Place(fs, time, fsAxis, {series.FullDay, 0}).x();
        out.FullMark = QLineF(x, fs.top(), x, fs.bottom());
        const QString text = "full " + QString::fromStdString(ForecastText(report_.Full, report_.Full.FullOn));
        out.Texts.push_back(
            TextAt(metrics, text, x - kGap / 2, out.Size.back().y() + kGap / 2, Qt::AlignRight | Qt::AlignTop));
    }
    return out;
}

void TrendChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.setRenderHint(QPainter::Antialiasing);
    const TrendChartLayout layout = LayOut();
    const QColor text = palette().text().color();

    painter.setPen(QPen(palette().mid().color(), 0, Qt::DotLine));
    for (const QLineF& grid : layout.GridLines) painter.drawLine(grid);
    painter.setPen(QPen(text, 1));
    painter.drawRect(layout.DirectoryPlot);
    if (!layout.FilesystemPlot.isEmpty()) painter.drawRect(layout.FilesystemPlot);

    PolyLine(painter, layout.Size, QPen(SizeColour(), 2, Qt::DashLine), false);
    PolyLine(painter, layout.Used, QPen(UsedColour(), 2), true);
    PolyLine(painter, layout.Directory, QPen(DirectoryColour(), 2), true);
    if (!layout.ForecastLine.isNull()) {
        painter.setPen(QPen(ForecastColour(), 2, Qt::DashLine));
        painter.drawLine(layout.ForecastLine);
    }
    if (!layout.FullMark.isNull()) {
        painter.setPen(QPen(ForecastColour(), 1, Qt::DotLine));
        painter.drawLine(layout.FullMark);
    }

    const QColor swatches[] = {DirectoryColour(), UsedColour(), SizeColour(), ForecastColour()};
    // The legend lists the directory, then the file system's two lines, then
    // the forecast, which needs them: the colours go in that order.
    for (std::size_t i = 0; i < layout.Swatches.size() && i < std::size(swatches); ++i) {
        painter.fillRect(layout.Swatches[i], swatches[i]);
    }
    painter.setPen(text);
    painter.setFont(TitleFont());
    painter.drawText(layout.Title.Box, Qt::AlignCenter, layout.Title.Text);
    painter.setFont(font());
    for (const ChartText& item : layout.Texts) painter.drawText(item.Box, Qt::AlignCenter, item.Text);
    for (const ChartText& item : layout.Legend) painter.drawText(item.Box, Qt::AlignCenter, item.Text);
}

}  // namespace corvina
