#include "app/QtExecutor.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>

#include "app/QtTimer.h"

namespace kelm {

QtExecutor::QtExecutor(IMessageBoxes* boxes) : context_(new QObject), boxes_(boxes) {
    context_->setObjectName(QStringLiteral("KelmGuiExecutor"));
}

QtExecutor::~QtExecutor() {
    // Deleting the context drops the calls still queued for it. Workers that
    // wait in Synchronize() must have been stopped before: the owner closes
    // its ports first.
    delete context_;
}

bool QtExecutor::IsGuiThread() const {
    return QThread::currentThread() == context_->thread();
}

bool QtExecutor::Synchronize(std::function<void()> fn, std::stop_token stop) {
    if (IsGuiThread()) {
        fn();
        return true;
    }
    auto call = std::make_shared<SyncCall>(std::move(fn));
    QMetaObject::invokeMethod(
        context_, [call] { call->Run(); }, Qt::QueuedConnection);
    return call->Wait(stop);
}

void QtExecutor::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(context_, std::move(fn), Qt::QueuedConnection);
}

void QtExecutor::ProcessEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

std::unique_ptr<IGuiTimer> QtExecutor::CreateTimer() {
    auto timer = std::make_unique<QtTimer>();
    timer->SetInterval(1000);
    return timer;
}

void QtExecutor::ShowError(const std::string& caption, const std::string& text) {
    const QString c = QString::fromStdString(caption);
    const QString t = QString::fromStdString(text);
    if (IsGuiThread()) {
        ShowErrorNow(c, t);
    } else {
        Post([this, c, t] { ShowErrorNow(c, t); });
    }
}

void QtExecutor::ShowErrorNow(const QString& caption, const QString& text) {
    if (boxes_) {
        boxes_->Show(caption, text, MsgIcon::Critical, MsgButtons::Ok);
        return;
    }
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.exec();
}

}  // namespace kelm
