#pragma once
// One QApplication for a GoogleTest program, on the offscreen platform, with
// the program's fonts declared. Include in exactly one source of a test
// program; the environment registers itself.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <functional>
#include <memory>

#include "app/AppSetup.h"

namespace kelm::test {

class QtAppEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "kelm-test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        ConfigureApplication(*app_);
        // Tests close windows without ending the program.
        app_->setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QApplication> app_;
};

inline ::testing::Environment* const kQtEnv =
    ::testing::AddGlobalTestEnvironment(new QtAppEnvironment);

// Runs the event loop until cond holds or timeoutMs passes; returns cond().
inline bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > timeoutMs) return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(5);
    }
    return true;
}

}  // namespace kelm::test
