#include "ui/ScreenPlacement.h"

#include <algorithm>

#include <QEvent>
#include <QScreen>
#include <QWidget>

namespace corvina {

namespace {

constexpr int kGap = 8;

class OnScreenFilter : public QObject {
public:
    explicit OnScreenFilter(QWidget& window) : QObject(&window), window_(window) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &window_ && event->type() == QEvent::Show && window_.screen() != nullptr) Fit();
        return false;
    }

private:
    void Fit() {
        const QRect frame = window_.frameGeometry();
        const QRect fitted = FitOnScreen(frame, window_.screen()->availableGeometry());
        if (fitted.size() != frame.size()) window_.resize(window_.size() - (frame.size() - fitted.size()));
        if (fitted.topLeft() != frame.topLeft() && window_.testAttribute(Qt::WA_Moved)) window_.move(fitted.topLeft());
    }

    QWidget& window_;
};

}  // namespace

QRect FitOnScreen(const QRect& frame, const QRect& available) {
    const QSize size = frame.size().boundedTo(available.size());
    const int left = std::clamp(frame.left(), available.left(), available.right() + 1 - size.width());
    const int top = std::clamp(frame.top(), available.top(), available.bottom() + 1 - size.height());
    return {QPoint(left, top), size};
}

QPoint PlaceBeside(const QRect& owner, const QSize& frame, const QRect& available) {
    const int roomRight = available.right() - owner.right() - kGap;
    const int roomLeft = owner.left() - kGap - available.left();
    // Right where it fits or where there is more room, else left: pushed
    // onto the screen, it covers as little of the owner as it can.
    const bool right = roomRight >= frame.width() || roomRight >= roomLeft;
    const QPoint at(right ? owner.right() + 1 + kGap : owner.left() - kGap - frame.width(), owner.top());
    return FitOnScreen(QRect(at, frame), available).topLeft();
}

void KeepOpeningOnScreen(QWidget& window) { window.installEventFilter(new OnScreenFilter(window)); }

}  // namespace corvina
