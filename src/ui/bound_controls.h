// Data-aware controls (data_controls.h) created with their designer name,
// their field and their hint in one call, so that no control of a window is
// left half bound:
//
//   auto* ed = ui::bound<ui::DBEdit>(this, "edNome", dsFuncs, "nome", "Nome do colaborador");
//   auto* cb = ui::bound<ui::DBCheckBox>(this, QStringLiteral("Gerar Cabeçalho"),
//                                        "cbCabecalho", dsLayOut, "Cabecalho");
//
// An empty hint leaves the control without one.
#pragma once

#include "ui/data_controls.h"

#include <type_traits>

namespace keldo::ui {

namespace detail {

template <class Control>
Control* bind(Control* c, const QString& name, db::DataSource* ds, const QString& field,
              const QString& hint) {
    c->setObjectName(name);
    c->setDataSource(ds);
    c->setDataField(field);
    if (!hint.isEmpty())
        c->setToolTip(hint);
    return c;
}

} // namespace detail

template <class Control>
Control* bound(QWidget* parent, const QString& name, db::DataSource* ds, const QString& field,
               const QString& hint = {}) {
    Control* c;
    if constexpr (std::is_constructible_v<Control, QWidget*>)
        c = new Control(parent);
    else
        c = new Control(QString(), parent); // the radio group has no constructor without a title
    return detail::bind(c, name, ds, field, hint);
}

// The same for the controls with a caption of their own: the check box's
// text, the radio group's title.
template <class Control>
Control* bound(QWidget* parent, const QString& caption, const QString& name, db::DataSource* ds,
               const QString& field, const QString& hint = {}) {
    return detail::bind(new Control(caption, parent), name, ds, field, hint);
}

} // namespace keldo::ui
