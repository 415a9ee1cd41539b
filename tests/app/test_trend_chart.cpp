// The trend window's chart: the time axis is laid out and labelled with the
// times of the readings shown.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QRegularExpression>
#include <QValueAxis>
#include <QtCharts/QChart>
#include <algorithm>
#include <cmath>

#include "QtAppEnvironment.h"
#include "app/TFMtrend.h"
#include "modbus/ModbusMaster.h"
#include "support/ManualTimer.h"
#include "support/ModbusDoubles.h"
#include "support/RecordingMessageBoxes.h"

namespace kelm {
namespace {

using test::WaitUntil;

struct Label {
    QString text;
    QRectF at;  // in the scene
};

// The visible text items the chart's scene draws.
std::vector<Label> VisibleLabels(QChart* chart) {
    std::vector<Label> out;
    for (QGraphicsItem* item : chart->scene()->items()) {
        if (!item->isVisible() || item->opacity() == 0) continue;
        if (auto* t = dynamic_cast<QGraphicsTextItem*>(item))
            out.push_back({t->toPlainText(), t->sceneBoundingRect()});
        else if (auto* s = dynamic_cast<QGraphicsSimpleTextItem*>(item))
            out.push_back({s->text(), s->sceneBoundingRect()});
    }
    return out;
}

QStringList VisibleTexts(QChart* chart) {
    QStringList out;
    for (const Label& l : VisibleLabels(chart)) out << l.text;
    return out;
}

bool IsTime(const QString& text) {
    static const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"));
    return time.match(text).hasMatch();
}

QStringList TimeTexts(QChart* chart) {
    QStringList out;
    for (const Label& l : VisibleLabels(chart))
        if (IsTime(l.text)) out << l.text;
    return out;
}

class TrendChart : public ::testing::Test {
  protected:
    test::RecordingSink sink;
    test::RecordingStatus status;
    test::FixedProtocol protocol;
    test::ManualTimer recTimer;
    ModbusMaster master{sink, status, protocol, recTimer};
    test::RecordingMessageBoxes boxes;
    std::vector<TrendModule> modules{{3, "KELM-8AD"}, {1, "KELM-8I8T"}};
    TFMtrend trend{master, boxes, [] { return false; }, [] { return 9600u; },
                   [this] { return modules; }};

    QDateTimeAxis* TimeAxis() const {
        const auto axes = trend.Chart()->axes(Qt::Horizontal);
        return axes.isEmpty() ? nullptr : qobject_cast<QDateTimeAxis*>(axes.first());
    }

    // Rounds one second apart from t0, CH0 rising; a digital input beside it.
    void Feed(std::int64_t t0, int rounds) {
        const std::vector<ChannelId> ch{{3, "KELM-8AD", ChannelKind::AnalogIn, 0},
                                        {1, "KELM-8I8T", ChannelKind::DigitalIn, 2}};
        for (int i = 0; i < rounds; ++i) {
            LiveRound r;
            r.timeMs = t0 + 1000LL * i;
            r.channels = ch;
            r.values = {0.5 * i, static_cast<double>(i % 2)};
            r.units = {"V", "开/关"};
            trend.AddRound(r);
        }
    }
};

TEST_F(TrendChart, TimeAxisShowsTheTimesOfTheReadings) {
    trend.resize(1100, 600);
    trend.show();
    trend.AddChannels(
        {{3, "KELM-8AD", ChannelKind::AnalogIn, 0}, {1, "KELM-8I8T", ChannelKind::DigitalIn, 2}});
    // Noon local time: labels are read back in the same zone.
    const QDateTime noon(QDate(2026, 3, 4), QTime(12, 0, 0));
    const std::int64_t t0 = noon.toMSecsSinceEpoch();
    Feed(t0, 30);
    trend.Redraw();

    QDateTimeAxis* axis = TimeAxis();
    ASSERT_NE(axis, nullptr);
    EXPECT_TRUE(axis->isVisible());
    EXPECT_TRUE(axis->labelsVisible());
    // The axis spans the readings the view follows.
    EXPECT_EQ(axis->min().toMSecsSinceEpoch(), trend.ViewStart());
    EXPECT_EQ(axis->max().toMSecsSinceEpoch(), trend.ViewEnd());
    EXPECT_LT(axis->min(), axis->max());
    EXPECT_EQ(trend.ViewStart(), t0);

    // The scene holds the axis's labels: times within the view, in order.
    ASSERT_TRUE(WaitUntil([&] { return TimeTexts(trend.Chart()).size() >= 3; }, 20000))
        << VisibleTexts(trend.Chart()).join(QStringLiteral(" | ")).toStdString();
    QStringList times = TimeTexts(trend.Chart());
    times.sort();
    EXPECT_EQ(times.first(), QStringLiteral("12:00:00"));
    for (const QString& t : times) {
        const QTime at = QTime::fromString(t, QStringLiteral("HH:mm:ss"));
        ASSERT_TRUE(at.isValid()) << t.toStdString();
        EXPECT_GE(at, QTime(12, 0, 0)) << t.toStdString();
        EXPECT_LE(at, QTime(12, 0, 29)) << t.toStdString();
    }
    // The labels lie under the plot area, spread along it.
    const QRectF area = trend.Chart()->plotArea();
    double left = area.right(), right = area.left();
    for (const Label& l : VisibleLabels(trend.Chart())) {
        if (!IsTime(l.text)) continue;
        EXPECT_GE(l.at.top(), area.bottom() - 1) << l.text.toStdString();
        left = std::min(left, l.at.center().x());
        right = std::max(right, l.at.center().x());
    }
    EXPECT_GT(right - left, area.width() / 2);
}

TEST_F(TrendChart, LabelsFollowTheViewWhenItMoves) {
    trend.resize(1100, 600);
    trend.show();
    trend.AddChannels({{3, "KELM-8AD", ChannelKind::AnalogIn, 0}});
    const QDateTime morning(QDate(2026, 3, 4), QTime(8, 30, 0));
    Feed(morning.toMSecsSinceEpoch(), 3700);  // a little over an hour
    trend.Redraw();
    ASSERT_TRUE(WaitUntil(
        [&] { return TimeTexts(trend.Chart()).contains(QStringLiteral("08:30:00")); }, 20000))
        << VisibleTexts(trend.Chart()).join(QStringLiteral(" | ")).toStdString();

    // Ten minutes from 09:00: every label is within them.
    const std::int64_t nine = QDateTime(QDate(2026, 3, 4), QTime(9, 0, 0)).toMSecsSinceEpoch();
    trend.SetView(nine, nine + 600000);
    trend.Redraw();
    ASSERT_TRUE(WaitUntil(
        [&] {
            const QStringList t = TimeTexts(trend.Chart());
            return t.contains(QStringLiteral("09:00:00")) &&
                   !t.contains(QStringLiteral("08:30:00"));
        },
        20000))
        << VisibleTexts(trend.Chart()).join(QStringLiteral(" | ")).toStdString();
    for (const QString& t : TimeTexts(trend.Chart())) {
        const QTime at = QTime::fromString(t, QStringLiteral("HH:mm:ss"));
        EXPECT_GE(at, QTime(9, 0, 0)) << t.toStdString();
        EXPECT_LE(at, QTime(9, 10, 0)) << t.toStdString();
    }
}

}  // namespace
}  // namespace kelm
