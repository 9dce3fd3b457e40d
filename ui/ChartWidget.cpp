#include "ui/ChartWidget.h"

#include <algorithm>
#include <cmath>

#include <QPainter>
#include <QPainterPath>

namespace corvina {

namespace {

constexpr int kTicks = 4;

QString ValueText(double value) { return QString::number(value, 'f', std::floor(value) == value ? 0 : 1); }

QString Label(const ChartData& chart, int i) {
    return QString::fromStdString(chart.ChartLabels[static_cast<std::size_t>(i)]);
}

double Value(const ChartData& chart, int i) { return chart.ChartValues[static_cast<std::size_t>(i)]; }

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

double ChartWidget::AxisMax() const { return chart_.ChartMaxValue > 0 ? chart_.ChartMaxValue : 1.0; }

void ChartWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!chart_.Drawn || chart_.ChartPointCount < 1) return;
    QFont titleFont = font();
    titleFont.setBold(true);
    painter.setFont(titleFont);
    const int titleHeight = painter.fontMetrics().height() + 4;
    const QRect titleRect(0, 2, width(), titleHeight);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(titleRect, Qt::AlignCenter,
                     painter.fontMetrics().elidedText(QString::fromStdString(chart_.Title), Qt::ElideRight, width() - 8));
    QFont small = font();
    small.setPointSizeF(std::max(6.0, font().pointSizeF() - 1));
    painter.setFont(small);
    const QRect area = rect().adjusted(4, titleHeight + 4, -4, -4);
    switch (chart_.ChartType) {
        case kChart2DPie: PaintPie(painter, area, false); break;
        case kChart3DPie: PaintPie(painter, area, true); break;
        case kChart3DBar: PaintBars(painter, area, true, chart_.ChartOrientation == 1); break;
        default: PaintBars(painter, area, false, chart_.ChartOrientation == 1); break;
    }
}

void ChartWidget::PaintBars(QPainter& painter, const QRect& area, bool depth, bool horizontal) const {
    const QFontMetrics metrics = painter.fontMetrics();
    const int n = chart_.ChartPointCount;
    const double axisMax = AxisMax();
    const int axisTextWidth = metrics.horizontalAdvance(ValueText(axisMax)) + 6;
    const int lineHeight = metrics.height();
    // Horizontal bars carry their labels at the left, vertical ones below.
    const int labelWidth = horizontal ? std::min(area.width() / 3, 160) : 0;
    QRect plot = horizontal ? area.adjusted(labelWidth + 4, 0, -axisTextWidth / 2 - 4, -lineHeight - 4)
                            : area.adjusted(axisTextWidth, lineHeight / 2, -8, -lineHeight - 6);
    if (plot.width() < 10 || plot.height() < 10) return;
    const double depthPx = depth ? std::min(12.0, (horizontal ? plot.height() : plot.width()) / (n * 5.0)) : 0.0;
    plot.adjust(0, static_cast<int>(depthPx), -static_cast<int>(depthPx), 0);

    // Axis lines and value ticks from 0 to the largest value.
    const QColor ink = palette().color(QPalette::WindowText);
    painter.setPen(QColor(210, 210, 210));
    for (int t = 0; t <= kTicks; ++t) {
        const double value = axisMax * t / kTicks;
        const QString text = ValueText(std::floor(value) == value ? value : std::round(value * 10) / 10);
        if (horizontal) {
            const double x = plot.left() + plot.width() * t / double(kTicks);
            painter.setPen(QColor(210, 210, 210));
            painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
            painter.setPen(ink);
            painter.drawText(QRectF(x - 40, plot.bottom() + 2, 80, lineHeight), Qt::AlignHCenter | Qt::AlignTop, text);
        } else {
            const double y = plot.bottom() - plot.height() * t / double(kTicks);
            painter.setPen(QColor(210, 210, 210));
            painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
            painter.setPen(ink);
            painter.drawText(QRectF(area.left(), y - lineHeight / 2.0, axisTextWidth - 4, lineHeight),
                             Qt::AlignRight | Qt::AlignVCenter, text);
        }
    }
    painter.setPen(ink);
    painter.drawLine(plot.bottomLeft(), horizontal ? plot.topLeft() : plot.bottomRight());

    const double slot = (horizontal ? plot.height() : plot.width()) / double(n);
    const double thickness = slot * 0.6;
    for (int i = 0; i < n; ++i) {
        const double value = Value(chart_, i);
        // Negative values lie outside the axis: they get no bar, only their number.
        const double length = std::clamp(value / axisMax, 0.0, 1.0) * (horizontal ? plot.width() : plot.height());
        const double start = (horizontal ? plot.top() : plot.left()) + slot * i + (slot - thickness) / 2;
        QRectF bar = horizontal ? QRectF(plot.left(), start, length, thickness)
                                : QRectF(start, plot.bottom() - length, thickness, length);
        PaintBox(painter, bar, PointColour(i + 1), depthPx);
        painter.setPen(ink);
        const QString label = Label(chart_, i);
        if (horizontal) {
            painter.drawText(QRectF(area.left(), start, labelWidth, thickness), Qt::AlignRight | Qt::AlignVCenter,
                             metrics.elidedText(label, Qt::ElideLeft, labelWidth));
            painter.drawText(QRectF(bar.right() + depthPx + 3, start, 80, thickness), Qt::AlignLeft | Qt::AlignVCenter,
                             ValueText(value));
        } else {
            const int room = static_cast<int>(slot) - 2;
            painter.drawText(QRectF(plot.left() + slot * i, plot.bottom() + 3, slot, lineHeight), Qt::AlignCenter,
                             metrics.elidedText(label, Qt::ElideLeft, room));
            if (n <= 12) {
                painter.drawText(QRectF(plot.left() + slot * i, bar.top() - depthPx - lineHeight - 1, slot, lineHeight),
                                 Qt::AlignHCenter | Qt::AlignBottom, ValueText(value));
            }
        }
    }
}

void ChartWidget::PaintPie(QPainter& painter, const QRect& area, bool depth) const {
    const QFontMetrics metrics = painter.fontMetrics();
    const int n = chart_.ChartPointCount;
    double total = 0;
    for (int i = 0; i < n; ++i) total += std::max(Value(chart_, i), 0.0);

    // The legend takes the right part: a swatch, the label and the value per point.
    const int legendWidth = std::min(area.width() / 2, 200);
    const QRect pieArea = area.adjusted(0, 0, -legendWidth - 6, 0);
    const int diameter = std::max(10, std::min(pieArea.width(), pieArea.height()) - 16);
    const double squash = depth ? 0.6 : 1.0;
    const double thick = depth ? diameter * 0.12 : 0.0;
    QRectF ellipse(pieArea.left() + (pieArea.width() - diameter) / 2.0,
                   pieArea.top() + (pieArea.height() - diameter * squash - thick) / 2.0, diameter, diameter * squash);

    const QColor ink = palette().color(QPalette::WindowText);
    if (total <= 0) {
        painter.setPen(ink);
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(ellipse);
    } else {
        // With depth, the rim is drawn first, shifted down, in darker shades.
        const int layers = depth ? static_cast<int>(thick) : 0;
        for (int layer = layers; layer >= 0; --layer) {
            double angle = 90.0 * 16;
            for (int i = 0; i < n; ++i) {
                const double span = -std::max(Value(chart_, i), 0.0) / total * 360.0 * 16;
                const QColor colour = PointColour(i + 1);
                painter.setPen(layer == 0 ? colour.darker(150) : Qt::NoPen);
                painter.setBrush(layer == 0 ? colour : colour.darker(150));
                painter.drawPie(ellipse.translated(0, layer), static_cast<int>(angle), static_cast<int>(span));
                angle += span;
            }
        }
    }

    const int line = metrics.height() + 2;
    int y = area.top() + std::max(0, (area.height() - n * line) / 2);
    const int x = area.right() - legendWidth;
    for (int i = 0; i < n; ++i, y += line) {
        painter.setPen(PointColour(i + 1).darker(150));
        painter.setBrush(PointColour(i + 1));
        painter.drawRect(QRectF(x, y + 2, line - 6, line - 6));
        painter.setPen(ink);
        const QString value = ValueText(Value(chart_, i));
        const int valueWidth = metrics.horizontalAdvance(value) + 6;
        painter.drawText(QRectF(x + line, y, legendWidth - line - valueWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(Label(chart_, i), Qt::ElideLeft, legendWidth - line - valueWidth));
        painter.drawText(QRectF(area.right() - valueWidth, y, valueWidth, line), Qt::AlignRight | Qt::AlignVCenter,
                         value);
    }
}

}  // namespace corvina
