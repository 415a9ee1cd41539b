// The Qt adapters the libraries run on, the pictures, the status bar and the
// About box.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "QtAppEnvironment.h"
#include "gui/Pictures.h"
#include "app/QtExecutor.h"
#include "app/QtMessageBoxes.h"
#include "app/QtTimer.h"
#include "app/StatusBar.h"
#include "app/TFmabout.h"
#include "support/RecordingMessageBoxes.h"

using namespace kelm;
using kelm::test::WaitUntil;

TEST(Pictures, TenTwentyByTwentyWithAlphaAndDistinct) {
    for (int i = 0; i < kImageList2020Count; ++i) {
        const QPixmap pm = ImageList2020(i);
        ASSERT_FALSE(pm.isNull()) << i;
        EXPECT_EQ(pm.size(), QSize(20, 20)) << i;
        EXPECT_TRUE(pm.hasAlphaChannel()) << i;
        for (int j = 0; j < i; ++j)
            EXPECT_NE(pm.toImage(), ImageList2020(j).toImage()) << i << " equals " << j;
    }
    EXPECT_TRUE(ImageList2020(-1).isNull());
    EXPECT_TRUE(ImageList2020(10).isNull());
    EXPECT_EQ(AboutBanner().size(), QSize(496, 80));
    EXPECT_EQ(BusyPicture().size(), QSize(50, 50));
}

TEST(StatusBar, SevenPanelsWithTheirWidthsAndTexts) {
    TStatusBar bar;
    bar.resize(1114, 25);
    EXPECT_EQ(bar.objectName(), "StatusBar1");
    const int widths[] = {205, 5, 590, 5, 29, 5};
    int x = 0;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(bar.PanelRect(i), QRect(x, 0, widths[i], 25)) << i;
        x += widths[i];
    }
    EXPECT_EQ(bar.PanelRect(6), QRect(x, 0, 1114 - x, 25));
    bar.resize(x + 10, 25);
    EXPECT_EQ(bar.PanelRect(6).width(), 40) << "the last panel keeps at least 40 pixels";

    bar.SetPanelText(4, QStringLiteral("ignored"));
    bar.SetPanelText(7, QStringLiteral("ignored"));
    EXPECT_TRUE(bar.PanelText(4).isEmpty()) << "panel 4 is owner-drawn";
    EXPECT_TRUE(bar.PanelText(7).isEmpty());
}

TEST(QtTimer, TicksOnTheGuiThreadUntilDisabledAndHandlerMayBeReplaced) {
    QtTimer t(QStringLiteral("Timer_test"));
    EXPECT_EQ(t.timer()->objectName(), "Timer_test");
    int ticks = 0, other = 0;
    std::thread::id tickThread;
    t.SetInterval(10);
    t.SetOnTimer([&] {
        ++ticks;
        tickThread = std::this_thread::get_id();
        if (ticks == 3) t.SetEnabled(false);  // a handler may stop its own timer
    });
    t.SetEnabled(true);
    t.SetEnabled(true);  // enabling a running timer keeps it running
    ASSERT_TRUE(WaitUntil([&] { return ticks >= 3; }));
    QTest::qWait(60);
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(t.Enabled());
    EXPECT_EQ(tickThread, std::this_thread::get_id());

    t.SetOnTimer([&] { ++other; });
    t.SetEnabled(true);
    ASSERT_TRUE(WaitUntil([&] { return other > 0; }));
    EXPECT_EQ(ticks, 3);
    t.SetOnTimer({});  // no handler: ticks do nothing
    QTest::qWait(20);
    t.SetEnabled(false);
}

TEST(QtExecutor, SynchronizeRunsOnTheGuiThreadAndWaits) {
    QtExecutor ex;
    EXPECT_TRUE(ex.IsGuiThread());
    const auto gui = std::this_thread::get_id();
    std::atomic<bool> workerSawGui{true}, onGui{false}, returned{false};
    std::thread worker([&] {
        workerSawGui = ex.IsGuiThread();
        EXPECT_TRUE(ex.Synchronize([&] { onGui = std::this_thread::get_id() == gui; }));
        returned = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_FALSE(workerSawGui);
    EXPECT_TRUE(onGui);

    // On the GUI thread itself the call runs at once.
    bool inline_ = false;
    EXPECT_TRUE(ex.Synchronize([&] { inline_ = true; }));
    EXPECT_TRUE(inline_);
}

TEST(QtExecutor, StopWithdrawsAPendingCallWithoutDeadlock) {
    QtExecutor ex;
    std::atomic<bool> ran{false};
    std::atomic<int> result{-1};
    std::jthread worker(
        [&](std::stop_token st) { result = ex.Synchronize([&] { ran = true; }, st) ? 1 : 0; });
    // The GUI thread does not serve events here: it stops and joins the
    // worker as closing a port does.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    worker.request_stop();
    worker.join();
    EXPECT_EQ(result.load(), 0);
    // The queued call is still delivered later but must not run.
    QCoreApplication::processEvents();
    QTest::qWait(10);
    EXPECT_FALSE(ran);
}

TEST(QtExecutor, ExceptionsReachTheWaiterAndPostKeepsOrder) {
    QtExecutor ex;
    std::atomic<bool> caught{false}, done{false};
    std::thread worker([&] {
        try {
            ex.Synchronize([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error& e) {
            caught = std::string(e.what()) == "boom";
        }
        done = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(caught);

    std::vector<int> order;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) ex.Post([&order, i] { order.push_back(i); });
    });
    poster.join();
    ASSERT_TRUE(WaitUntil([&] { return order.size() == 100; }));
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST(QtExecutor, TimersAndErrorsGoThroughTheGuiThread) {
    test::RecordingMessageBoxes boxes;
    QtExecutor ex(&boxes);
    auto timer = ex.CreateTimer();
    int ticks = 0;
    timer->SetInterval(5);
    timer->SetOnTimer([&] { ++ticks; });
    timer->SetEnabled(true);
    ASSERT_TRUE(WaitUntil([&] { return ticks >= 2; }));

    std::thread worker([&] { ex.ShowError("Serial", "Device \"COM9\" Open Error !!!"); });
    worker.join();  // posted, never waited for
    EXPECT_TRUE(boxes.boxes.empty());
    ASSERT_TRUE(WaitUntil([&] { return !boxes.boxes.empty(); }));
    EXPECT_EQ(boxes.boxes[0].title, "Serial");
    EXPECT_EQ(boxes.boxes[0].text, "Device \"COM9\" Open Error !!!");
    EXPECT_EQ(boxes.boxes[0].icon, MsgIcon::Critical);
}

namespace {
// Answers the next modal message box with `button` after checking it.
struct BoxAnswer {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool topmost = false;
    int buttons = 0;
};
void answerNextBox(QMessageBox::StandardButton button, BoxAnswer* seen) {
    QTimer::singleShot(20, [button, seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            answerNextBox(button, seen);
            return;
        }
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->icon = box->icon();
        seen->topmost = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        seen->buttons = int(box->standardButtons());
        box->button(button)->click();
    });
}
}  // namespace

TEST(QtMessageBoxes, TopmostWithTitleTextIconAndButtons) {
    QtMessageBoxes boxes;
    BoxAnswer seen;
    answerNextBox(QMessageBox::Cancel, &seen);
    EXPECT_FALSE(boxes.Confirm(QStringLiteral("警告"),
                               QStringLiteral("主机串口丢失，需要手动重启，是否关闭程序？")));
    EXPECT_EQ(seen.title, QStringLiteral("警告"));
    EXPECT_EQ(seen.text, QStringLiteral("主机串口丢失，需要手动重启，是否关闭程序？"));
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_TRUE(seen.topmost);
    EXPECT_EQ(seen.buttons, int(QMessageBox::Ok | QMessageBox::Cancel));

    answerNextBox(QMessageBox::Ok, &seen);
    boxes.Information(QStringLiteral("提示"), QStringLiteral("通讯参数配置成功！"));
    EXPECT_EQ(seen.icon, QMessageBox::Information);
    EXPECT_EQ(seen.buttons, int(QMessageBox::Ok));

    answerNextBox(QMessageBox::Ok, &seen);
    boxes.ReportConversionError(QStringLiteral("'' is not a valid integer value"));
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.text, QStringLiteral("'' is not a valid integer value"));
    EXPECT_FALSE(seen.title.isEmpty());
}

TEST(AboutBox, CaptionTextsAndLink) {
    TFmabout box;
    box.show();
    EXPECT_EQ(box.windowTitle(), QStringLiteral("关于软件"));
    EXPECT_EQ(box.size(), QSize(394, 271));
    auto* l1 = box.findChild<QLabel*>("Label1");
    auto* l5 = box.findChild<QLabel*>("Label5");
    auto* img = box.findChild<QLabel*>("Image1");
    ASSERT_TRUE(l1 && l5 && img);
    EXPECT_EQ(l1->text(), QStringLiteral(" 本软件用于我公司KELM系列远程IO模块的参数配置及调试，"));
    EXPECT_FALSE(img->pixmap().isNull());
    EXPECT_GE(l1->x() + l1->width(), 300) << "sized to its text when shown";
    EXPECT_LE(l5->x() + l5->width(), 394) << "the address fits in the box";

    // The link turns blue with a hand cursor and opens the address.
    const QColor normal = l5->palette().color(QPalette::WindowText);
    EXPECT_EQ(normal, box.palette().color(QPalette::WindowText));

    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(l5, &enter);
    EXPECT_EQ(l5->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(box.cursor().shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(l5, &leave);
    EXPECT_EQ(l5->palette().color(QPalette::WindowText), normal);
    EXPECT_EQ(box.cursor().shape(), Qt::ArrowCursor);

    QUrl opened;
    TFmabout::SetUrlOpener([&](const QUrl& u) {
        opened = u;
        return true;
    });
    QTest::mouseClick(l5, Qt::LeftButton);
    TFmabout::SetUrlOpener({});
    EXPECT_EQ(opened, QUrl(QStringLiteral("http://www.kelm-io.com")));
    EXPECT_EQ(l5->text(), TFmabout::WebAddress());
}
