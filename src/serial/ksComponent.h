#pragma once
// The component base of the library: a name, a tag, the loading state of a
// form being read, and the free-notification protocol (a component asks to be
// told when another one is destroyed, so that it can drop its pointer).
// GUI thread only.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace kelm {

enum class TOperation { opInsert, opRemove };

class TksComponent {
  public:
    TksComponent() = default;
    virtual ~TksComponent() {
        // Tell everyone who asked; they forget us and we forget them.
        auto observers = observers_;
        observers_.clear();
        for (TksComponent* c : observers) {
            std::erase(c->observers_, this);
            c->Notification(this, TOperation::opRemove);
        }
    }
    TksComponent(const TksComponent&) = delete;
    TksComponent& operator=(const TksComponent&) = delete;

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    intptr_t Tag() const { return tag_; }
    void SetTag(intptr_t tag) { tag_ = tag; }

    // While a form is being read, some properties are only stored; Loaded()
    // applies them.
    bool Loading() const { return loading_; }
    void BeginLoading() { loading_ = true; }
    virtual void Loaded() { loading_ = false; }
    // There is no form designer: never at design time.
    bool Designing() const { return false; }

    // Both components are told when the other one is destroyed.
    void FreeNotification(TksComponent* c) {
        if (c == nullptr || c == this) return;
        if (std::find(observers_.begin(), observers_.end(), c) == observers_.end())
            observers_.push_back(c);
        if (std::find(c->observers_.begin(), c->observers_.end(), this) == c->observers_.end())
            c->observers_.push_back(this);
    }
    void RemoveFreeNotification(TksComponent* c) {
        if (c == nullptr) return;
        std::erase(observers_, c);
        std::erase(c->observers_, this);
    }

    // Called when a component this one asked about is destroyed (opRemove).
    virtual void Notification(TksComponent* /*AComponent*/, TOperation /*Operation*/) {}

  private:
    std::string name_;
    intptr_t tag_ = 0;
    bool loading_ = false;
    std::vector<TksComponent*> observers_;
};

}  // namespace kelm
