#pragma once
// The serial library's GUI-thread executor on Qt: calls from the component's
// threads are queued to the GUI thread's event loop; a waiting worker can
// withdraw its call when it is told to stop, so closing a port from the GUI
// thread never deadlocks against a worker that waits for the GUI thread.
#include <QObject>
#include <QPointer>

#include "gui/MessageBoxes.h"
#include "serial/Executor.h"

namespace kelm {

class QtExecutor final : public IExecutor {
  public:
    // Create on the GUI thread. Error boxes go through `boxes` when given,
    // else through a plain critical QMessageBox.
    explicit QtExecutor(IMessageBoxes* boxes = nullptr);
    ~QtExecutor() override;
    QtExecutor(const QtExecutor&) = delete;
    QtExecutor& operator=(const QtExecutor&) = delete;

    bool IsGuiThread() const override;
    bool Synchronize(std::function<void()> fn, std::stop_token stop = {}) override;
    void Post(std::function<void()> fn) override;
    void ProcessEvents() override;
    std::unique_ptr<IGuiTimer> CreateTimer() override;
    void ShowError(const std::string& caption, const std::string& text) override;

    void SetMessageBoxes(IMessageBoxes* boxes) { boxes_ = boxes; }

  private:
    void ShowErrorNow(const QString& caption, const QString& text);

    // Lives on the GUI thread; queued calls are delivered through it. Posts
    // from workers are thread-safe (QMetaObject::invokeMethod with a queued
    // connection); once it is gone, late posts are dropped by Qt.
    QObject* context_;
    IMessageBoxes* boxes_;
};

}  // namespace kelm
