#include "modules/PanelTexts.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QVariant>

namespace kelm {

namespace {

// Where a widget keeps its sources.
constexpr char kTextProperty[] = "kelmPanelText";
constexpr char kArgsProperty[] = "kelmPanelTextArgs";
constexpr char kToolTipProperty[] = "kelmPanelToolTip";
constexpr char kItemsProperty[] = "kelmPanelItems";

// Every Chinese label the model description gives a choice, so that a text
// a panel takes from it (a mode list's items) has its translation; the
// description itself stays free of the toolkit.
[[maybe_unused]] constexpr const char* kModelLabels[] = {
    QT_TRANSLATE_NOOP("kelm::Panels", "电流"),       QT_TRANSLATE_NOOP("kelm::Panels", "电压"),
    QT_TRANSLATE_NOOP("kelm::Panels", "开关量输出"), QT_TRANSLATE_NOOP("kelm::Panels", "脉冲输出"),
    QT_TRANSLATE_NOOP("kelm::Panels", "停止"),       QT_TRANSLATE_NOOP("kelm::Panels", "运行"),
};

void SetShown(QWidget* w, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(text);
    else if (auto* group = qobject_cast<QGroupBox*>(w))
        group->setTitle(text);
}

void Retranslate(QWidget* w) {
    const QVariant text = w->property(kTextProperty);
    if (text.isValid())
        SetShown(
            w, PanelTr(text.toByteArray().constData(), w->property(kArgsProperty).toStringList()));
    const QVariant tip = w->property(kToolTipProperty);
    if (tip.isValid()) w->setToolTip(PanelTr(tip.toByteArray().constData()));
    const QVariant items = w->property(kItemsProperty);
    auto* list = qobject_cast<QComboBox*>(w);
    if (items.isValid() && list) {
        const QList<QByteArray> sources = items.value<QList<QByteArray>>();
        for (int i = 0; i < list->count() && i < sources.size(); ++i)
            list->setItemText(i, PanelTr(sources[i].constData()));
        // A list sized to its items when first shown keeps that size; setting
        // the policy anew has it measure the new items.
        const QComboBox::SizeAdjustPolicy policy = list->sizeAdjustPolicy();
        list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        list->setSizeAdjustPolicy(policy);
    }
}

}  // namespace

QString PanelTr(const char* source) {
    return QCoreApplication::translate(kPanelsContext, source);
}

QString PanelTr(const char* source, const QStringList& args) {
    QString text = PanelTr(source);
    for (const QString& a : args) text = text.arg(a);
    return text;
}

QString ModelTr(std::string_view label) {
    const QByteArray source(label.data(), static_cast<qsizetype>(label.size()));
    return PanelTr(source.constData());
}

void ShowPanelText(QWidget* w, const char* source, const QStringList& args) {
    w->setProperty(kTextProperty, QByteArray(source));
    if (args.isEmpty())
        w->setProperty(kArgsProperty, QVariant());
    else
        w->setProperty(kArgsProperty, args);
    SetShown(w, PanelTr(source, args));
}

void ShowPanelToolTip(QWidget* w, const char* source) {
    w->setProperty(kToolTipProperty, QByteArray(source));
    w->setToolTip(PanelTr(source));
}

void ShowPanelItems(QComboBox* list, const QList<QByteArray>& sources) {
    list->setProperty(kItemsProperty, QVariant::fromValue(sources));
    QStringList texts;
    texts.reserve(sources.size());
    for (const QByteArray& s : sources) texts << PanelTr(s.constData());
    list->addItems(texts);
}

void RetranslatePanelTexts(QWidget* w) {
    Retranslate(w);
    for (QWidget* child : w->findChildren<QWidget*>()) Retranslate(child);
}

}  // namespace kelm
