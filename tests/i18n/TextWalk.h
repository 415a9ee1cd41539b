#pragma once
// Collects every text a widget tree shows a user: captions, titles, tool
// tips, placeholder texts, list and tree items, table headers and cells,
// menu entries. Each text comes with where it was found, for the failure
// message.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QString>
#include <QTextEdit>
#include <QWidget>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace kelm::test {

struct ShownText {
    std::string where;
    QString text;
};

// Han characters, CJK punctuation and full-width forms: what an English
// window must not show.
inline bool HasChinese(const QString& s) {
    static const QRegularExpression re(QStringLiteral(
        "[\\x{2E80}-\\x{2FFF}\\x{3000}-\\x{303F}\\x{3400}-\\x{4DBF}\\x{4E00}-\\x{9FFF}"
        "\\x{F900}-\\x{FAFF}\\x{FE30}-\\x{FE4F}\\x{FF00}-\\x{FFEF}]"));
    return re.match(s).hasMatch();
}

inline void CollectModel(const QAbstractItemModel* m, const QModelIndex& parent,
                         const std::string& where, std::vector<ShownText>& out) {
    if (!m) return;
    for (int r = 0; r < m->rowCount(parent); ++r)
        for (int c = 0; c < m->columnCount(parent); ++c) {
            const QModelIndex i = m->index(r, c, parent);
            out.push_back({where + " cell", m->data(i, Qt::DisplayRole).toString()});
            out.push_back({where + " cell tip", m->data(i, Qt::ToolTipRole).toString()});
            if (c == 0 && m->hasChildren(i)) CollectModel(m, i, where, out);
        }
}

// skip: widgets whose texts another test checks (with their children).
inline std::vector<ShownText> CollectTexts(QWidget* root,
                                           const std::set<const QWidget*>& skip = {}) {
    std::vector<ShownText> out;
    std::function<void(QWidget*)> walk = [&](QWidget* w) {
        if (skip.count(w)) return;
        const std::string where =
            std::string(w->metaObject()->className()) + " '" + w->objectName().toStdString() + "'";
        if (w->isWindow()) out.push_back({where + " title", w->windowTitle()});
        out.push_back({where + " tool tip", w->toolTip()});
        out.push_back({where + " status tip", w->statusTip()});
        out.push_back({where + " what's this", w->whatsThis()});
        if (auto* l = qobject_cast<QLabel*>(w)) out.push_back({where, l->text()});
        if (auto* b = qobject_cast<QAbstractButton*>(w)) out.push_back({where, b->text()});
        if (auto* g = qobject_cast<QGroupBox*>(w)) out.push_back({where, g->title()});
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            out.push_back({where, e->text()});
            out.push_back({where + " placeholder", e->placeholderText()});
        }
        if (auto* e = qobject_cast<QPlainTextEdit*>(w)) out.push_back({where, e->toPlainText()});
        if (auto* e = qobject_cast<QTextEdit*>(w)) out.push_back({where, e->toPlainText()});
        if (auto* c = qobject_cast<QComboBox*>(w)) {
            // Its items, once; its pop-up list shows the same.
            for (int i = 0; i < c->count(); ++i) out.push_back({where + " item", c->itemText(i)});
            return;
        }
        auto* header = qobject_cast<QHeaderView*>(w);
        if (auto* v = qobject_cast<QAbstractItemView*>(w); v && !header)
            CollectModel(v->model(), {}, where, out);
        if (QHeaderView* h = header) {
            if (QAbstractItemModel* m = h->model())
                for (int i = 0;
                     i < (h->orientation() == Qt::Horizontal ? m->columnCount() : m->rowCount());
                     ++i)
                    out.push_back({where + " header",
                                   m->headerData(i, h->orientation(), Qt::DisplayRole).toString()});
        }
        for (QAction* a : w->actions()) {
            out.push_back({where + " action", a->text()});
            out.push_back({where + " action tip", a->toolTip()});
        }
        for (QObject* child : w->children())
            if (auto* cw = qobject_cast<QWidget*>(child)) walk(cw);
    };
    walk(root);
    return out;
}

// The texts that still hold Chinese, one per line.
inline std::string ChineseIn(const std::vector<ShownText>& texts) {
    std::string bad;
    for (const ShownText& t : texts)
        if (HasChinese(t.text)) bad += t.where + ": " + t.text.toStdString() + "\n";
    return bad;
}

}  // namespace kelm::test
