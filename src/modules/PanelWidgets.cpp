#include "modules/PanelWidgets.h"

#include <QLineEdit>
#include <QPalette>
#include <QToolButton>

#include "modules/PanelTexts.h"

namespace kelm {

QLineEdit* MakeValueBox(const QString& name, const QString& text, QWidget* parent) {
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(name);
    e->setEnabled(false);
    QPalette pal = e->palette();
    pal.setColor(QPalette::Disabled, QPalette::Text, pal.color(QPalette::Active, QPalette::Text));
    e->setPalette(pal);
    return e;
}

QToolButton* MakeTextSpeedButton(const QString& name, const char* caption, QWidget* parent,
                                 const QStringList& args) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    ShowPanelText(b, caption, args);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return b;
}

}  // namespace kelm
