#pragma once
// Small pieces the module panels share: the read-only value boxes and the
// text-only speed buttons.
#include <QString>
#include <QStringList>

class QLineEdit;
class QToolButton;
class QWidget;

namespace kelm {

// A value box: disabled so the user cannot type into it, but painted in the
// active text colour so that a reading stays legible.
QLineEdit* MakeValueBox(const QString& name, const QString& text, QWidget* parent);

// A speed button without a picture: a plain tool button showing its caption
// (a translatable source, with args filled into its place-holders).
QToolButton* MakeTextSpeedButton(const QString& name, const char* caption, QWidget* parent,
                                 const QStringList& args = {});

}  // namespace kelm
