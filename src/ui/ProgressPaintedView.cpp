#include "ui/ProgressPaintedView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMargin = 56;
// A click names a point this close to it, in pixels.
constexpr float kPickRadius = 6.0f;
// Drawn from the back layer to the front: the many small report points
// first, the block being measured and its electrodes last.
constexpr std::array<ProgressState, kProgressStateCount> kPaintOrder{
    ProgressState::QuadNotMeasured, ProgressState::QuadMeasured,
    ProgressState::ElectrodeIdle,   ProgressState::QuadMeasuringGapFiller,
    ProgressState::QuadMeasuring,   ProgressState::ElectrodePotential,
    ProgressState::ElectrodeCurrent};

QColor ColorOf(ProgressState s) {
    const Rgb c = ProgressPointColor(s);
    return QColor(c.r, c.g, c.b);
}

// One symbol; shapes keep the states apart without their colours.
void PaintSymbol(QPainter& p, ProgressState s, const QPointF& at) {
    switch (s) {
    case ProgressState::QuadNotMeasured:
    case ProgressState::QuadMeasured:
        p.fillRect(QRectF(at.x() - 1.5, at.y() - 1.5, 3, 3), ColorOf(s));
        return;
    case ProgressState::ElectrodeIdle:
        p.setPen(QColor(128, 128, 128));
        p.setBrush(ColorOf(s));
        p.drawRect(QRectF(at.x() - 2.5, at.y() - 2.5, 5, 5));
        return;
    case ProgressState::QuadMeasuring:
        p.fillRect(QRectF(at.x() - 3.5, at.y() - 3.5, 7, 7), ColorOf(s));
        return;
    case ProgressState::QuadMeasuringGapFiller: {
        const QPointF tri[3] = {at + QPointF(0, -5), at + QPointF(4.5, 3.5),
                                at + QPointF(-4.5, 3.5)};
        p.setPen(Qt::NoPen);
        p.setBrush(ColorOf(s));
        p.drawPolygon(tri, 3);
        return;
    }
    case ProgressState::ElectrodeCurrent:
    case ProgressState::ElectrodePotential:
        p.setPen(Qt::NoPen);
        p.setBrush(ColorOf(s));
        p.drawEllipse(at, 4.5, 4.5);
        return;
    }
}

void PaintSuspect(QPainter& p, const QPointF& at) {
    p.setPen(QPen(QColor(140, 0, 0), 2));
    p.setBrush(QColor(230, 0, 0));
    p.drawRect(QRectF(at.x() - 6, at.y() - 6, 12, 12));
}

QString Metres(double v) {
    return QString::number(v, 'g', 6);
}

} // namespace

ProgressPaintedView::ProgressPaintedView(QWidget* parent) : QWidget(parent) {
    setObjectName("Pe3do1");
    setMinimumSize(200, 150);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip(QString()); // names come from clicks, not hovering
    projection_.SetViewport(width(), height(), kMargin);
}

void ProgressPaintedView::SetAngles(double yawDeg, double pitchDeg) {
    projection_.SetAngles(yawDeg, pitchDeg);
    update();
}

void ProgressPaintedView::Draw(const ProgressModel& model) {
    model_ = &model;
    if (shownRevision_ == model.revision())
        return;
    shownRevision_ = model.revision();
    counts_ = {};
    double lo[2] = {1e300, 1e300};
    double hi[2] = {-1e300, -1e300};
    for (const auto* points : {&model.quadripolePoints(), &model.electrodePoints()}) {
        for (const ProgressPoint& p : *points) {
            if (p.IsNull())
                continue;
            ++counts_[size_t(p.state)];
            lo[0] = std::min(lo[0], double(p.x));
            hi[0] = std::max(hi[0], double(p.x));
            lo[1] = std::min(lo[1], double(p.y));
            hi[1] = std::max(hi[1], double(p.y));
        }
    }
    if (shownLayout_ != model.layoutRevision()) {
        shownLayout_ = model.layoutRevision();
        // The box is fixed for a run: the view does not jump as points
        // change state.
        if (lo[0] > hi[0]) {
            lo[0] = lo[1] = 0;
            hi[0] = hi[1] = 1;
        }
        projection_.SetBox({std::floor(lo[0]), std::min(lo[1], 0.0), model.manualMinZ()},
                           {std::ceil(hi[0]), std::ceil(hi[1]), model.manualMaxZ()});
    }
    update();
}

void ProgressPaintedView::ShowSuspects(const ProgressModel& model,
                                       const std::vector<int32_t>& nodes) {
    suspects_.clear();
    const auto& electrodes = model.electrodePoints();
    for (int32_t node : nodes) {
        if (node >= 0 && size_t(node) < electrodes.size() && !electrodes[size_t(node)].IsNull())
            suspects_.push_back(electrodes[size_t(node)]);
    }
    update();
}

ProgressProjection ProgressPaintedView::ProjectionFor(const QSize& size) const {
    ProgressProjection p = projection_;
    p.SetViewport(size.width(), size.height(), kMargin);
    return p;
}

void ProgressPaintedView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    projection_.SetViewport(width(), height(), kMargin);
}

void ProgressPaintedView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Paint(painter, size(), projection_);
}

QImage ProgressPaintedView::Render(const QSize& size) {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    Paint(painter, size, ProjectionFor(size));
    return image;
}

void ProgressPaintedView::Paint(QPainter& painter, const QSize& size,
                                const ProgressProjection& projection) {
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    PaintAxes(painter, projection);
    if (model_) {
        // One pass sorts the points by state; each state is then painted
        // in one go, back layers first.
        std::array<std::vector<QPointF>, kProgressStateCount> at;
        for (int s = 0; s < kProgressStateCount; ++s)
            at[size_t(s)].reserve(size_t(counts_[size_t(s)]));
        for (const auto* points : {&model_->quadripolePoints(), &model_->electrodePoints()}) {
            for (const ProgressPoint& p : *points) {
                if (p.IsNull())
                    continue;
                const ProjectedPoint q = projection.Project(p.x, p.y, p.z);
                // A damaged coordinate in the sequence must not reach the
                // painter.
                if (std::isfinite(q.x) && std::isfinite(q.y))
                    at[size_t(p.state)].emplace_back(q.x, q.y);
            }
        }
        for (ProgressState s : kPaintOrder) {
            const bool large = s == ProgressState::ElectrodeCurrent ||
                               s == ProgressState::ElectrodePotential ||
                               s == ProgressState::QuadMeasuringGapFiller;
            painter.setRenderHint(QPainter::Antialiasing, large);
            for (const QPointF& q : at[size_t(s)])
                PaintSymbol(painter, s, q);
        }
        painter.setRenderHint(QPainter::Antialiasing, false);
        for (const ProgressPoint& p : suspects_) {
            const ProjectedPoint q = projection.Project(p.x, p.y, p.z);
            if (std::isfinite(q.x) && std::isfinite(q.y))
                PaintSuspect(painter, QPointF(q.x, q.y));
        }
    }
    PaintLegend(painter);
    painter.setPen(QColor(150, 150, 150));
    painter.drawText(QRect(0, 0, size.width() - 6, size.height() - 4),
                     Qt::AlignRight | Qt::AlignBottom,
                     QStringLiteral("Drag to turn, right-drag to move, wheel to zoom, "
                                    "double-click to start over"));
}

void ProgressPaintedView::PaintAxes(QPainter& painter, const ProgressProjection& projection) {
    painter.setRenderHint(QPainter::Antialiasing, true);
    const auto corners = projection.Corners();
    auto pt = [&](int c) { return QPointF(corners[size_t(c)].x, corners[size_t(c)].y); };
    painter.setPen(QPen(QColor(210, 210, 210), 1));
    for (int c = 0; c < 8; ++c) {
        for (int bit : {1, 2, 4}) {
            if (!(c & bit))
                painter.drawLine(pt(c), pt(c | bit));
        }
    }
    const auto& lo = projection.boxLow();
    const auto& hi = projection.boxHigh();
    QPointF centre(0, 0);
    for (int c = 0; c < 8; ++c)
        centre += pt(c) / 8.0;

    struct Axis {
        int bit;
        int index;
        const char* title;
        int ticks;
    };
    const Axis axes[] = {{1, 0, "X (m)", 6}, {2, 1, "Pseudo-depth (m)", 5}, {4, 2, "Y (m)", 4}};
    const QFontMetricsF metrics(painter.font());
    for (const Axis& axis : axes) {
        // Of the four edges along this axis, the one nearest the viewer's
        // bottom left carries the labels: the lowest on screen for the
        // ground axes, the leftmost for depth.
        int best = -1;
        double bestScore = -1e300;
        for (int c = 0; c < 8; ++c) {
            if (c & axis.bit)
                continue;
            const QPointF mid = (pt(c) + pt(c | axis.bit)) / 2.0;
            const double score = axis.bit == 2 ? -mid.x() : mid.y() - 0.001 * mid.x();
            if (score > bestScore) {
                bestScore = score;
                best = c;
            }
        }
        const QPointF a = pt(best);
        const QPointF b = pt(best | axis.bit);
        const QPointF edge = b - a;
        const double length = std::hypot(edge.x(), edge.y());
        if (length < 12)
            continue; // seen end on
        // Labels go out from the box, square to the edge.
        QPointF out(-edge.y() / length, edge.x() / length);
        if (QPointF::dotProduct(out, (a + b) / 2.0 - centre) < 0)
            out = -out;
        // How far a label of this size reaches along `out` from its centre.
        auto reach = [&](const QSizeF& box) {
            return std::fabs(out.x()) * box.width() / 2 + std::fabs(out.y()) * box.height() / 2;
        };
        painter.setPen(QPen(QColor(110, 110, 110), 1));
        painter.drawLine(a, b);
        const double from = lo[size_t(axis.index)];
        const double to = hi[size_t(axis.index)];
        const int most = std::clamp(int(length / 55), 1, axis.ticks);
        double labelDepth = 0;
        for (double v : ProgressProjection::TickValues(from, to, most)) {
            const QPointF at = a + edge * ((v - from) / (to - from));
            painter.drawLine(at, at + out * 4);
            const QString text = QString::number(v, 'g', 6);
            const QSizeF box(metrics.horizontalAdvance(text), metrics.height());
            const double r = reach(box);
            labelDepth = std::max(labelDepth, 2 * r);
            const QPointF c = at + out * (7 + r);
            painter.drawText(QRectF(c - QPointF(box.width() / 2, box.height() / 2), box),
                             Qt::AlignCenter, text);
        }
        const QString title = QString::fromLatin1(axis.title);
        const QSizeF box(metrics.horizontalAdvance(title), metrics.height());
        QPointF c = (a + b) / 2.0 + out * (7 + labelDepth + 8 + reach(box));
        // Kept whole on the picture, however the box is turned.
        const QRectF area = painter.viewport();
        c.setX(std::clamp(
            c.x(), area.left() + box.width() / 2 + 2,
            std::max(area.left() + box.width() / 2 + 2, area.right() - box.width() / 2 - 2)));
        c.setY(std::clamp(
            c.y(), area.top() + box.height() / 2 + 2,
            std::max(area.top() + box.height() / 2 + 2, area.bottom() - box.height() / 2 - 2)));
        painter.setPen(Qt::black);
        painter.drawText(QRectF(c - QPointF(box.width() / 2, box.height() / 2), box),
                         Qt::AlignCenter, title);
    }
}

void ProgressPaintedView::PaintLegend(QPainter& painter) {
    const QFontMetrics metrics(painter.font());
    const int line = metrics.height() + 2;
    int y = 6;
    auto entry = [&](const QString& text, const std::function<void(const QPointF&)>& symbol) {
        symbol(QPointF(14, y + line / 2.0));
        painter.setPen(Qt::black);
        painter.drawText(QRect(26, y, 240, line), Qt::AlignLeft | Qt::AlignVCenter, text);
        y += line;
    };
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (ProgressState s : {ProgressState::QuadNotMeasured, ProgressState::QuadMeasuring,
                            ProgressState::QuadMeasuringGapFiller, ProgressState::QuadMeasured,
                            ProgressState::ElectrodeIdle, ProgressState::ElectrodeCurrent,
                            ProgressState::ElectrodePotential}) {
        if (s == ProgressState::QuadMeasuringGapFiller && counts_[size_t(s)] == 0)
            continue;
        entry(QString::fromLatin1(ProgressStateName(s)),
              [&](const QPointF& at) { PaintSymbol(painter, s, at); });
    }
    if (!suspects_.empty())
        entry(QStringLiteral("Suspect electrode"),
              [&](const QPointF& at) { PaintSuspect(painter, at); });
}

QString ProgressPaintedView::Describe(const QPoint& pos) const {
    if (!model_)
        return QString();
    float best = kPickRadius * kPickRadius;
    const ProgressPoint* found = nullptr;
    bool isQuadripole = false;
    int index = -1;
    for (int subset = 0; subset < 2; ++subset) {
        const auto& points = subset == 0 ? model_->quadripolePoints() : model_->electrodePoints();
        for (size_t i = 0; i < points.size(); ++i) {
            const ProgressPoint& p = points[i];
            if (p.IsNull())
                continue;
            const ProjectedPoint q = projection_.Project(p.x, p.y, p.z);
            const float dx = q.x - float(pos.x());
            const float dy = q.y - float(pos.y());
            // Electrodes win ties: they sit on top of their report points.
            const float d = dx * dx + dy * dy - (subset == 1 ? 0.01f : 0.0f);
            if (d <= best) {
                best = d;
                found = &p;
                isQuadripole = subset == 0;
                index = int(i);
            }
        }
    }
    if (!found)
        return QString();
    const QString where = QStringLiteral("x %1 m, y %2 m").arg(Metres(found->x), Metres(found->z));
    if (isQuadripole)
        return QStringLiteral("Quadripole %1 (%2)\n%3, pseudo-depth %4 m")
            .arg(index + 1)
            .arg(QString::fromLatin1(ProgressStateName(found->state)).toLower(), where,
                 Metres(found->y));
    return QStringLiteral("Electrode %1\n%2").arg(index).arg(where);
}

void ProgressPaintedView::mousePressEvent(QMouseEvent* event) {
    pressAt_ = lastAt_ = event->position().toPoint();
    dragging_ = true;
    panning_ = event->button() == Qt::RightButton || (event->modifiers() & Qt::ShiftModifier);
}

void ProgressPaintedView::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_)
        return;
    const QPoint at = event->position().toPoint();
    const QPoint delta = at - lastAt_;
    lastAt_ = at;
    if (panning_)
        projection_.Pan(delta.x(), delta.y());
    else
        projection_.SetAngles(projection_.yawDeg() - delta.x() * 0.4,
                              projection_.pitchDeg() + delta.y() * 0.4);
    update();
}

void ProgressPaintedView::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    const QPoint at = event->position().toPoint();
    if ((at - pressAt_).manhattanLength() <= 3) {
        const QString text = Describe(at);
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(event->globalPosition().toPoint(), text, this);
    }
}

void ProgressPaintedView::mouseDoubleClickEvent(QMouseEvent*) {
    projection_.Reset();
    update();
}

void ProgressPaintedView::wheelEvent(QWheelEvent* event) {
    projection_.SetZoom(projection_.zoom() * std::pow(1.0015, event->angleDelta().y()));
    update();
}
