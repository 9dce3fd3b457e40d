#include "ui/ChartWidget.h"

#include <algorithm>
#include <cmath>

#include <QFontMetricsF>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include "analysis/ChartAxis.h"

namespace corvina {

namespace {

QString ValueText(double value) { return QString::number(value, 'f', std::floor(value) == value ? 0 : 1); }

QString Label(const ChartData& chart, int i) {
    return QString::fromStdString(chart.ChartLabels[static_cast<std::size_t>(i)]);
}

double Value(const ChartData& chart, int i) { return chart.ChartValues[static_cast<std::size_t>(i)]; }

double WidestText(const QFontMetricsF& metrics, const std::vector<QString>& texts) {
    double widest = 0;
    for (const QString& text : texts) widest = std::max(widest, metrics.horizontalAdvance(text));
    return std::ceil(widest) + 1;
}

// The points the chart shows, read once for the layout.
struct Points {
    int Count = 0;
    double Low = 0;
    double High = 0;
    bool Whole = true;
    std::vector<QString> Values;
    std::vector<QString> Labels;
};

Points ReadPoints(const ChartData& chart) {
    Points points;
    points.Count = chart.ChartPointCount;
    for (int i = 0; i < points.Count; ++i) {
        points.Low = std::min(points.Low, Value(chart, i));
        points.High = std::max(points.High, Value(chart, i));
        points.Values.push_back(ValueText(Value(chart, i)));
        points.Labels.push_back(Label(chart, i));
    }
    points.Whole = AllWholeNumbers(chart.ChartValues);
    return points;
}

std::vector<QString> TickTexts(const ChartAxis& axis) {
    std::vector<QString> texts;
    for (const std::string& label : axis.Labels) texts.push_back(QString::fromStdString(label));
    return texts;
}

// The width of the middle label: one long name among short ones is cut to
// its slot rather than leaving the others without their labels.
double TypicalText(const QFontMetricsF& metrics, const std::vector<QString>& texts) {
    std::vector<double> widths;
    for (const QString& text : texts) widths.push_back(metrics.horizontalAdvance(text));
    if (widths.empty()) return 0;
    auto middle = widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2);
    std::nth_element(widths.begin(), middle, widths.end());
    return std::ceil(*middle) + 1;
}

// Point labels too wide for one slot each are shown for every k-th point only.
int LabelEvery(double widest, double slot) { return std::max(1, static_cast<int>(std::ceil(widest / slot))); }

double Fraction(const ChartAxis& axis, double value) { return (value - axis.Low()) / (axis.High() - axis.Low()); }

// Vertical bars: tick labels in a strip at the left as wide as the widest of
// them, point labels in a row at the bottom, each value above its bar (below
// it for a negative one), in room kept free of the title and the labels.
void LayOutVerticalBars(const ChartData& chart, const QRectF& area, const QFontMetricsF& metrics, bool depth,
                        ChartLayout& out) {
    const Points points = ReadPoints(chart);
    const double line = std::ceil(metrics.height());
    double top = area.top() + line + 3;
    const double bottom = area.bottom() - line - 3 - (points.Low < 0 ? line + 3 : 0);
    const int intervals = std::clamp(static_cast<int>((bottom - top) / (line * 1.8)), 1, 10);
    const ChartAxis axis = ChooseChartAxis(points.Low, points.High, points.Whole, intervals);
    const std::vector<QString> tickTexts = TickTexts(axis);
    const double left = area.left() + WidestText(metrics, tickTexts) + 6;
    double right = area.right() - 4;
    out.Depth = depth ? std::min(12.0, (right - left) / (points.Count * 5.0)) : 0.0;
    top += out.Depth;
    right -= out.Depth;
    if (right - left < 10 || bottom - top < 10) return;
    out.Plot = QRectF(QPointF(left, top), QPointF(right, bottom));
    auto y = [&](double value) { return bottom - Fraction(axis, value) * (bottom - top); };

    for (std::size_t t = 0; t < axis.Ticks.size(); ++t) {
        const double at = y(axis.Ticks[t]);
        out.GridLines.emplace_back(left, at, right, at);
        out.Texts.push_back(TextAt(metrics, tickTexts[t], left - 4, at, Qt::AlignRight | Qt::AlignVCenter));
    }
    out.AxisLines = {QLineF(left, top, left, bottom), QLineF(left, y(0), right, y(0))};

    const double slot = (right - left) / points.Count;
    const int every = LabelEvery(TypicalText(metrics, points.Labels) + 4, slot);
    const bool values = WidestText(metrics, points.Values) <= slot - 2;
    for (int i = 0; i < points.Count; ++i) {
        const double value = Value(chart, i);
        const double centre = left + slot * (i + 0.5);
        out.PointAreas.emplace_back(left + slot * i, area.top(), slot, area.height());
        out.Bars.emplace_back(QPointF(centre - slot * 0.3, y(std::max(value, 0.0))),
                              QPointF(centre + slot * 0.3, y(std::min(value, 0.0))));
        if (values) {
            const QString& text = points.Values[i];
            out.Texts.push_back(value < 0 ? TextAt(metrics, text, centre, y(value) + 1, Qt::AlignHCenter | Qt::AlignTop)
                                          : TextAt(metrics, text, centre, y(value) - out.Depth - 1,
                                                   Qt::AlignHCenter | Qt::AlignBottom));
        }
        if (i % every != 0) continue;
        // One slot each: centred under the bar. Fewer: from the bar's left
        // edge over the slots of the points that go without.
        const double start = every == 1 ? centre : left + slot * i;
        const double room = every == 1 ? slot : std::min(slot * every, area.right() - start);
        const QString label = metrics.elidedText(points.Labels[i], Qt::ElideLeft, room - 4);
        if (every > 1 && label != points.Labels[i]) continue;  // a cut label among whole ones reads as noise
        const ChartText text = TextAt(metrics, label, start, area.bottom() - line,
                                      (every == 1 ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
        out.Texts.push_back(text);
    }
}

// The value axis of horizontal bars, between left and right as far as its end
// labels let it reach: as many ticks as fit with their labels a gap apart.
struct AxisAcross {
    ChartAxis Axis;
    std::vector<QString> Texts;
    double Left = 0;
    double Right = 0;
};

AxisAcross FitAxisAcross(const Points& points, const QFontMetricsF& metrics, const QRectF& area, double left,
                         double right) {
    AxisAcross across;
    for (int intervals = 10; intervals >= 1; --intervals) {
        across.Axis = ChooseChartAxis(points.Low, points.High, points.Whole, intervals);
        across.Texts = TickTexts(across.Axis);
        across.Left = std::max(left, area.left() + WidestText(metrics, {across.Texts.front()}) / 2 + 1);
        across.Right = std::min(right, area.right() - WidestText(metrics, {across.Texts.back()}) / 2 - 1);
        const double spacing = (across.Right - across.Left) / static_cast<double>(across.Axis.Ticks.size() - 1);
        if (spacing >= WidestText(metrics, across.Texts) + 16) break;
    }
    return across;
}

// Horizontal bars: point labels in a column at the left, tick labels in a row
// at the bottom spaced by the widest of them, each value beside the end of
// its bar, in room kept at the side it points to.
void LayOutHorizontalBars(const ChartData& chart, const QRectF& area, const QFontMetricsF& metrics, bool depth,
                          ChartLayout& out) {
    const Points points = ReadPoints(chart);
    const double line = std::ceil(metrics.height());
    const double labelWidth = std::min({WidestText(metrics, points.Labels), area.width() / 3, 160.0});
    const double plotLeft = area.left() + labelWidth + 4;
    const double bottom = area.bottom() - line - 4;
    double top = area.top();
    out.Depth = depth ? std::min(12.0, (bottom - top) / (points.Count * 5.0)) : 0.0;
    top += out.Depth;
    const double slot = (bottom - top) / points.Count;
    const bool values = slot >= line;
    double valuesRight = 0;
    double valuesLeft = 0;
    for (int i = 0; values && i < points.Count; ++i) {
        double& room = Value(chart, i) < 0 ? valuesLeft : valuesRight;
        room = std::max(room, std::ceil(metrics.horizontalAdvance(points.Values[i])) + 4);
    }
    valuesRight += out.Depth;

    const AxisAcross across = FitAxisAcross(points, metrics, area, plotLeft + valuesLeft, area.right() - valuesRight);
    const ChartAxis& axis = across.Axis;
    const std::vector<QString>& tickTexts = across.Texts;
    const double left = across.Left;
    const double right = across.Right;
    if (right - left < 10 || bottom - top < 10) return;
    out.Plot = QRectF(QPointF(left, top), QPointF(right, bottom));
    auto x = [&](double value) { return left + Fraction(axis, value) * (right - left); };

    for (std::size_t t = 0; t < axis.Ticks.size(); ++t) {
        const double at = x(axis.Ticks[t]);
        out.GridLines.emplace_back(at, top, at, bottom);
        out.Texts.push_back(TextAt(metrics, tickTexts[t], at, bottom + 2, Qt::AlignHCenter | Qt::AlignTop));
    }
    out.AxisLines = {QLineF(left, bottom, right, bottom), QLineF(x(0), top, x(0), bottom)};

    double labelsEnd = area.top();
    for (int i = 0; i < points.Count; ++i) {
        const double value = Value(chart, i);
        const double centre = top + slot * (i + 0.5);
        out.PointAreas.emplace_back(area.left(), top + slot * i, area.width(), slot);
        out.Bars.emplace_back(QPointF(x(std::min(value, 0.0)), centre - slot * 0.3),
                              QPointF(x(std::max(value, 0.0)), centre + slot * 0.3));
        if (values) {
            const QString& text = points.Values[i];
            out.Texts.push_back(value < 0
                                    ? TextAt(metrics, text, x(value) - 3, centre, Qt::AlignRight | Qt::AlignVCenter)
                                    : TextAt(metrics, text, x(value) + out.Depth + 3, centre,
                                             Qt::AlignLeft | Qt::AlignVCenter));
        }
        const QString label = metrics.elidedText(points.Labels[i], Qt::ElideLeft, labelWidth);
        ChartText text = TextAt(metrics, label, plotLeft - 4, centre, Qt::AlignRight | Qt::AlignVCenter);
        // Bars thinner than a line: labels are kept clear of the title and the
        // tick row, and one that would lie on the label above is left out.
        text.Box.moveTop(std::clamp(text.Box.top(), area.top(), bottom + 2 - text.Box.height()));
        if (text.Box.top() < labelsEnd) continue;
        labelsEnd = text.Box.bottom();
        out.Texts.push_back(text);
    }
}

// A pie at the left, a legend at the right: a swatch, the label and the value
// per point, as many points as there are whole lines for.
void LayOutPie(const ChartData& chart, const QRectF& area, const QFontMetricsF& metrics, bool depth,
               ChartLayout& out) {
    const Points points = ReadPoints(chart);
    const double legendWidth = std::min(area.width() / 2, 200.0);
    const QRectF pieArea = area.adjusted(0, 0, -legendWidth - 6, 0);
    const double diameter = std::max(10.0, std::min(pieArea.width(), pieArea.height()) - 16);
    const double squash = depth ? 0.6 : 1.0;
    out.Depth = depth ? diameter * 0.12 : 0.0;
    out.Plot = QRectF(pieArea.left() + (pieArea.width() - diameter) / 2.0,
                      pieArea.top() + (pieArea.height() - diameter * squash - out.Depth) / 2.0, diameter,
                      diameter * squash);

    // Lines close up rather than leave points out.
    const double line = std::ceil(metrics.height()) + (area.height() >= points.Count * (metrics.height() + 2) ? 2 : 0);
    const int listed = std::min(points.Count, static_cast<int>(area.height() / line));
    double y = area.top() + std::max(0.0, (area.height() - listed * line) / 2);
    const double x = area.right() - legendWidth;
    for (int i = 0; i < listed; ++i, y += line) {
        out.PointAreas.emplace_back(x, y, legendWidth, line);
        out.Swatches.emplace_back(x, y + 2, line - 6, line - 6);
        const ChartText value =
            TextAt(metrics, points.Values[i], area.right(), y + line / 2, Qt::AlignRight | Qt::AlignVCenter);
        out.Texts.push_back(value);
        const double room = value.Box.left() - 6 - (x + line);
        if (room < metrics.horizontalAdvance(QStringLiteral("..."))) continue;
        const QString label = metrics.elidedText(points.Labels[i], Qt::ElideLeft, room - 1);
        out.Texts.push_back(TextAt(metrics, label, x + line, y + line / 2, Qt::AlignLeft | Qt::AlignVCenter));
    }
}

// A box with depth: the front face, then the top and the right side in
// darker shades, shifted up and to the right by depth.
void PaintBox(QPainter& painter, const QRectF& front, const QColor& colour, double depth) {
    painter.setPen(colour.darker(170));
    if (depth > 0) {
        QPolygonF top;
        top << front.topLeft() << front.topLeft() + QPointF(depth, -depth) << front.topRight() + QPointF(depth, -depth)
            << front.topRight();
        painter.setBrush(colour.lighter(125));
        painter.drawPolygon(top);
        QPolygonF side;
        side << front.topRight() << front.topRight() + QPointF(depth, -depth)
             << front.bottomRight() + QPointF(depth, -depth) << front.bottomRight();
        painter.setBrush(colour.darker(140));
        painter.drawPolygon(side);
    }
    painter.setBrush(colour);
    painter.drawRect(front);
}

}  // namespace

ChartText TextAt(const QFontMetricsF& metrics, const QString& text, double x, double y, Qt::Alignment align) {
    const double width = std::ceil(metrics.horizontalAdvance(text)) + 1;
    const double height = std::ceil(metrics.height());
    const double left = align & Qt::AlignLeft ? x : align & Qt::AlignRight ? x - width : x - width / 2;
    const double top = align & Qt::AlignTop ? y : align & Qt::AlignBottom ? y - height : y - height / 2;
    return {QRectF(left, top, width, height), text};
}


ChartWidget::ChartWidget(QWidget* parent) : QWidget(parent) {
    setObjectName("grpdisp");
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
}

QColor ChartWidget::PointColour(int index) {
    static const QColor colours[] = {QColor(31, 119, 180), QColor(255, 127, 14), QColor(44, 160, 44),
                                     QColor(214, 39, 40),  QColor(148, 103, 189), QColor(140, 86, 75),
                                     QColor(227, 119, 194), QColor(127, 127, 127), QColor(188, 189, 34),
                                     QColor(23, 190, 207)};
    const int count = static_cast<int>(std::size(colours));
    return colours[((index - 1) % count + count) % count];
}

void ChartWidget::SetChart(const ChartData& chart) {
    chart_ = chart;
    update();
}

QFont ChartWidget::TitleFont() const {
    QFont title = font();
    title.setBold(true);
    return title;
}

QFont ChartWidget::TextFont() const {
    QFont small = font();
    small.setPointSizeF(std::max(6.0, font().pointSizeF() - 1));
    return small;
}

ChartLayout ChartWidget::LayOut() const {
    ChartLayout layout;
    if (!chart_.Drawn || chart_.ChartPointCount < 1) return layout;
    const QFontMetricsF titleMetrics(TitleFont(), this);
    const QString title = titleMetrics.elidedText(QString::fromStdString(chart_.Title), Qt::ElideRight, width() - 8);
    layout.Title = TextAt(titleMetrics, title, width() / 2.0, 2, Qt::AlignHCenter | Qt::AlignTop);
    const QRectF area = QRectF(rect()).adjusted(4, layout.Title.Box.bottom() + 4, -4, -4);
    const QFontMetricsF metrics(TextFont(), this);
    const bool horizontal = chart_.ChartOrientation == 1;
    switch (chart_.ChartType) {
        case ChartType::Pie2D: LayOutPie(chart_, area, metrics, false, layout); break;
        case ChartType::Pie3D: LayOutPie(chart_, area, metrics, true, layout); break;
        case ChartType::Bar2D:
        case ChartType::Bar3D: {
            const bool depth = chart_.ChartType == ChartType::Bar3D;
            if (horizontal) {
                LayOutHorizontalBars(chart_, area, metrics, depth, layout);
            } else {
                LayOutVerticalBars(chart_, area, metrics, depth, layout);
            }
        }
    }
    return layout;
}

QString ChartWidget::ToolTipAt(const QPointF& pos) const {
    const ChartLayout layout = LayOut();
    for (std::size_t i = 0; i < layout.PointAreas.size(); ++i) {
        if (!layout.PointAreas[i].contains(pos)) continue;
        const std::vector<std::string>& texts = i < chart_.ChartTips.size() ? chart_.ChartTips : chart_.ChartLabels;
        return QString::fromStdString(texts[i]);
    }
    return {};
}

bool ChartWidget::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = ToolTipAt(help->pos());
    if (tip.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), tip, this);
    }
    return true;
}

void ChartWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const ChartLayout layout = LayOut();
    if (layout.Title.Text.isEmpty() && layout.Texts.empty()) return;
    const QColor ink = palette().color(QPalette::WindowText);
    painter.setFont(TitleFont());
    painter.setPen(ink);
    painter.drawText(layout.Title.Box, Qt::AlignCenter, layout.Title.Text);
    painter.setFont(TextFont());
    if (chart_.ChartType == ChartType::Pie2D || chart_.ChartType == ChartType::Pie3D) {
        PaintPie(painter, layout);
    } else {
        PaintBars(painter, layout);
    }
    painter.setPen(ink);
    for (const ChartText& text : layout.Texts) painter.drawText(text.Box, Qt::AlignCenter, text.Text);
}

void ChartWidget::PaintBars(QPainter& painter, const ChartLayout& layout) const {
    painter.setPen(QColor(210, 210, 210));
    for (const QLineF& line : layout.GridLines) painter.drawLine(line);
    for (std::size_t i = 0; i < layout.Bars.size(); ++i) {
        PaintBox(painter, layout.Bars[i], PointColour(static_cast<int>(i) + 1), layout.Depth);
    }
    painter.setPen(palette().color(QPalette::WindowText));
    for (const QLineF& line : layout.AxisLines) painter.drawLine(line);
}

void ChartWidget::PaintPie(QPainter& painter, const ChartLayout& layout) const {
    const int n = chart_.ChartPointCount;
    double total = 0;
    for (int i = 0; i < n; ++i) total += std::max(Value(chart_, i), 0.0);
    if (total <= 0) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(layout.Plot);
    } else {
        // With depth, the rim is drawn first, shifted down, each slice's
        // side a darker shade of its own colour. Its layers have no outline:
        // one per layer would stack into a dark band.
        for (int layer = static_cast<int>(layout.Depth); layer >= 0; --layer) {
            double angle = 90.0 * 16;
            for (int i = 0; i < n; ++i) {
                const double span = -std::max(Value(chart_, i), 0.0) / total * 360.0 * 16;
                const QColor colour = PointColour(i + 1);
                painter.setPen(layer == 0 ? QPen(colour.darker(150)) : QPen(Qt::NoPen));
                painter.setBrush(layer == 0 ? colour : colour.darker(140));
                painter.drawPie(layout.Plot.translated(0, layer), static_cast<int>(angle), static_cast<int>(span));
                angle += span;
            }
        }
    }
    for (std::size_t i = 0; i < layout.Swatches.size(); ++i) {
        const QColor colour = PointColour(static_cast<int>(i) + 1);
        painter.setPen(colour.darker(150));
        painter.setBrush(colour);
        painter.drawRect(layout.Swatches[i]);
    }
}

}  // namespace corvina
