#pragma once

// The record navigator bar of the registry windows. Each window lists the
// buttons it shows and may give its own hints (the band window says
// "Primeiro"/"Último" where the others say "Início"/"Fim").
//
//   auto* nav = new DBNavigator(this);
//   nav->setDataSource(dsEmpresas);
//   nav->setVisibleButtons({NavButton::First, NavButton::Prior, NavButton::Next,
//                           NavButton::Last, NavButton::Insert, NavButton::Delete,
//                           NavButton::Post, NavButton::Cancel});
//   connect(nav, &DBNavigator::clicked, this, [&](NavButton b) { ... });
//
// Delete asks "Tem certeza que deseja apagar registro atual?" (OK / Cancel)
// through the Prompter first. Engine errors are shown with their text and the
// dataset stays as it was; beforeAction may throw db::Abort to stop a click.

#include "db/dataset.h"

#include <QPointer>
#include <QToolButton>
#include <QWidget>

#include <functional>
#include <map>

namespace keldo::ui {

enum class NavButton { First, Prior, Next, Last, Insert, Delete, Edit, Post, Cancel };

inline const QString kDeleteQuestion =
    QStringLiteral("Tem certeza que deseja apagar registro atual?");

class DBNavigator : public QWidget {
    Q_OBJECT
public:
    explicit DBNavigator(QWidget* parent = nullptr);

    void setDataSource(db::DataSource* ds);
    db::DataSource* dataSource() const { return source_; }
    // Every button when never called.
    void setVisibleButtons(const QList<NavButton>& buttons);
    void setHint(NavButton b, const QString& hint);
    // Ask before deleting (on by default).
    void setConfirmDelete(bool on) { confirmDelete_ = on; }

    QToolButton* button(NavButton b) const { return buttons_.at(b); }
    // Does what a click on the button does (also when it is hidden or disabled,
    // as a window's own code may).
    void click(NavButton b);

    // Runs before the action; throw db::Abort to cancel it.
    std::function<void(NavButton)> beforeAction;

signals:
    // After the action was done.
    void clicked(NavButton b);

private:
    void updateButtons();
    QPointer<db::DataSource> source_;
    QMetaObject::Connection c1_, c2_;
    std::map<NavButton, QToolButton*> buttons_;
    bool confirmDelete_ = true;
};

} // namespace keldo::ui
