#pragma once
// `TFmabout`: the About box, "关于软件". Created for each use, shown modally
// and destroyed when it closes.
#include <QDialog>
#include <QLabel>
#include <QUrl>
#include <functional>

namespace kelm {

class TFmabout : public QDialog {
    Q_OBJECT
  public:
    explicit TFmabout(QWidget* parent = nullptr);

    // The maker's web address shown by Label5.
    static QString WebAddress();

    // How a click on the link opens it; QDesktopServices by default. Tests
    // replace it to see the request without starting a browser.
    using UrlOpener = std::function<bool(const QUrl&)>;
    static void SetUrlOpener(UrlOpener opener);

    void Label5Click();
    void Label5MouseEnter();
    void Label5MouseLeave();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void RetranslateUi();

    QLabel* Image1 = nullptr;
    QLabel* LabelVersion_ = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
};

}  // namespace kelm
