#pragma once
// The texts the module panels show, each kept on its widget with its Chinese
// source, so that a change of language puts every one of them again in the
// new language without the panel being built anew. Sources are marked where
// they are written with QT_TRANSLATE_NOOP("kelm::Panels", ...), which is what
// the translation tools collect; with no translation loaded the Chinese
// source is what shows, byte for byte.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <string_view>

class QComboBox;
class QWidget;

namespace kelm {

// The one translation context of the module panels' texts.
inline constexpr char kPanelsContext[] = "kelm::Panels";

// The source in the language chosen now.
QString PanelTr(const char* source);
// A composed text translated as a whole, then its %1, %2 ... filled in, so a
// language puts the parts in its own order.
QString PanelTr(const char* source, const QStringList& args);
// A text that comes from the model description (a mode's label): its
// translation when there is one, else the text itself.
QString ModelTr(std::string_view label);

// Shows the source (with args filled in) as the text of a label or a button,
// or as the title of a group box, and keeps it for RetranslatePanelTexts.
void ShowPanelText(QWidget* w, const char* source, const QStringList& args = {});
void ShowPanelToolTip(QWidget* w, const char* source);
// Fills a list with these items (UTF-8 sources), keeping them the same way;
// the items that have no translation show as they are.
void ShowPanelItems(QComboBox* list, const QList<QByteArray>& sources);

// Puts every kept text of w and of all its descendants again in the
// language chosen now. A list keeps its selection.
void RetranslatePanelTexts(QWidget* w);

}  // namespace kelm
