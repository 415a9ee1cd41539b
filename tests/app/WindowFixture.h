#pragma once
// A real main window over real ports: pseudo-terminals published in a
// private virtual-port directory, so the window's port list shows them, and
// message boxes recorded instead of shown.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "QtAppEnvironment.h"
#include "app/TFMmain.h"
#include "host/Pnl_comset.h"
#include "modbus/ModbusMaster.h"
#include "serial/VirtualPortDir.h"
#include "serial/ksComm.h"
#include "support/RecordingMessageBoxes.h"

namespace kelm::test {

class WindowFixture : public ::testing::Test {
  protected:
    // Publishes `target` as COM<n> in this test's port directory.
    void Publish(unsigned n, const std::string& target) {
        std::string err;
        ASSERT_TRUE(VirtualPortDir::Publish(n, target, &err)) << err;
    }

    void SetUp() override {
        ASSERT_TRUE(portsDir_.isValid());
        qputenv("KELM_PORTS_DIR", portsDir_.path().toLocal8Bit());
        // The window's settings (the user's network ports) come from a
        // directory of the test's own, never from the user's.
        ASSERT_TRUE(configDir_.isValid());
        savedConfigHome_ = qgetenv("XDG_CONFIG_HOME");
        hadConfigHome_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", configDir_.path().toLocal8Bit());
    }

    void TearDown() override {
        window_.reset();
        qunsetenv("KELM_PORTS_DIR");
        if (hadConfigHome_)
            qputenv("XDG_CONFIG_HOME", savedConfigHome_);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }

    // Builds the window once the ports are published.
    TFMmain& MakeWindow(bool watchDevices = false) {
        window_ = std::make_unique<TFMmain>(&boxes_, watchDevices);
        window_->show();
        return *window_;
    }

    TFMmain& W() { return *window_; }
    Pnl_comset& Host() { return *window_->PnlComset(); }
    MasterState& St() { return window_->Master().State(); }
    QTreeWidgetItem* Root() { return window_->TreeView1->topLevelItem(0); }
    QTreeWidgetItem* Port(int i) { return Root()->child(i); }
    // The port node of COM<n> (the machine may list ports of its own beside
    // the test's); fails the test when it is missing.
    QTreeWidgetItem* PortNamed(int n) {
        const QString prefix = QStringLiteral("COM%1").arg(n);
        for (int i = 0; i < Root()->childCount(); ++i) {
            const QString t = Root()->child(i)->text(0);
            if (t == prefix || t.startsWith(prefix + QLatin1Char(' '))) return Root()->child(i);
        }
        ADD_FAILURE() << "no port node for " << prefix.toStdString();
        return nullptr;
    }
    void Select(QTreeWidgetItem* item) { window_->TreeView1->setCurrentItem(item); }

    // Picks an entry as the user does (runs the list's change handler).
    static void UserPick(QComboBox* c, int index) {
        c->setCurrentIndex(index);
        emit c->activated(index);
    }

    // Adds a module node under a port node as a scan would.
    QTreeWidgetItem* AddModule(QTreeWidgetItem* port, const QString& text,
                               const QStringList& channels = {}) {
        auto* m = new QTreeWidgetItem(port, {text});
        for (const auto& c : channels) new QTreeWidgetItem(m, {c});
        return m;
    }

    // Opens COM<n> from its tree node as the user does.
    void OpenPort(int n, int protocolIndex = 0) {
        Select(PortNamed(n));
        UserPick(Host().Cmb_comXY, protocolIndex);
        Host().Sbtn_com_open->click();
        ASSERT_TRUE(window_->ksComm1().Active());
        ASSERT_TRUE(window_->ToolButton_Scan->isEnabled());
    }

    QString Memo() { return Host().Memo_slavecominf->toPlainText(); }

    // Exactly one box was shown, with this title, text and icon.
    void ExpectOneBox(const char* title, const char* text, MsgIcon icon = MsgIcon::Warning) {
        ASSERT_EQ(boxes_.boxes.size(), 1u);
        EXPECT_EQ(boxes_.boxes[0].title, QString::fromUtf8(title));
        EXPECT_EQ(boxes_.boxes[0].text, QString::fromUtf8(text));
        EXPECT_EQ(boxes_.boxes[0].icon, icon);
    }

    static QStringList Channels(const QString& prefix, int count, int from = 0) {
        QStringList l;
        for (int i = from; i < from + count; ++i) l << prefix + QString::number(i);
        return l;
    }

    QTemporaryDir portsDir_;
    QTemporaryDir configDir_;
    QByteArray savedConfigHome_;
    bool hadConfigHome_ = false;
    RecordingMessageBoxes boxes_;
    std::unique_ptr<TFMmain> window_;
};

}  // namespace kelm::test
