// The version the package carries is the one the program shows: the About box
// line and the application's four-part version both come from the project
// version the build was configured with.
#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>

#include "QtAppEnvironment.h"
#include "app/TFmabout.h"

using namespace kelm;

TEST(Version, AboutBoxAndApplicationCarryTheProjectVersion) {
    const QString project = QStringLiteral(KELM_PROJECT_VERSION);
    EXPECT_EQ(QCoreApplication::applicationVersion().section(QLatin1Char('.'), 0, 2), project);
    EXPECT_EQ(QCoreApplication::applicationVersion().count(QLatin1Char('.')), 3)
        << "a file version has four parts";

    TFmabout box;
    box.show();
    auto* version = box.findChild<QLabel*>("LabelVersion");
    auto* label3 = box.findChild<QLabel*>("Label3");
    auto* bevel = box.findChild<QFrame*>("Bevel1");
    ASSERT_TRUE(version && label3 && bevel);
    EXPECT_EQ(version->text(), QStringLiteral("版本：") + project);
    // Its own line between the text and the bevel, wide enough for its text.
    EXPECT_GT(version->y(), label3->geometry().bottom());
    EXPECT_LT(version->geometry().bottom(), bevel->y());
    EXPECT_LE(version->fontMetrics().horizontalAdvance(version->text()), version->width());
    EXPECT_LE(version->geometry().right(), box.width());
}
