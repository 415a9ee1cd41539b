#pragma once
// `StatusBar1`: the main window's status bar of seven panels, left to right
// 205, 5, 590, 5, 29, 5 pixels and the rest. Panel 4 is owner-drawn (the port
// state icon); the others show text.
#include <QString>
#include <QWidget>
#include <array>
#include <functional>

namespace kelm {

class TStatusBar : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kPanelCount = 7;
    static constexpr int kOwnerDrawnPanel = 4;

    explicit TStatusBar(QWidget* parent = nullptr);

    void SetPanelText(int panel, const QString& text);
    QString PanelText(int panel) const;
    // Rectangle of a panel in this widget's coordinates (the last panel takes
    // the rest of the width, at least 40 pixels).
    QRect PanelRect(int panel) const;

    // Paints the owner-drawn panel; called from paintEvent with the panel's
    // rectangle.
    using DrawPanelFn = std::function<void(QPainter&, const QRect&)>;
    void SetOnDrawPanel(DrawPanelFn fn) { onDrawPanel_ = std::move(fn); }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    std::array<QString, kPanelCount> texts_;
    DrawPanelFn onDrawPanel_;
};

}  // namespace kelm
