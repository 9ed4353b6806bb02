#include "ui/navigator.h"

#include "ui/data_controls.h"
#include "ui/prompter.h"

#include <QHBoxLayout>
#include <QStyle>

namespace keldo::ui {

namespace {

struct ButtonInfo {
    NavButton button;
    const char* name;
    const char* hint;
    QStyle::StandardPixmap icon;
    const char* glyph;
};

const ButtonInfo kButtons[] = {
    {NavButton::First, "nbFirst", "Início", QStyle::SP_MediaSkipBackward, "|◀"},
    {NavButton::Prior, "nbPrior", "Anterior", QStyle::SP_MediaSeekBackward, "◀"},
    {NavButton::Next, "nbNext", "Próximo", QStyle::SP_MediaSeekForward, "▶"},
    {NavButton::Last, "nbLast", "Fim", QStyle::SP_MediaSkipForward, "▶|"},
    {NavButton::Insert, "nbInsert", "Inclui", QStyle::SP_FileDialogNewFolder, "+"},
    {NavButton::Delete, "nbDelete", "Exclui", QStyle::SP_TrashIcon, "−"},
    {NavButton::Edit, "nbEdit", "Altera", QStyle::SP_FileDialogDetailedView, "▲"},
    {NavButton::Post, "nbPost", "Confirma", QStyle::SP_DialogApplyButton, "✓"},
    {NavButton::Cancel, "nbCancel", "Cancela", QStyle::SP_DialogCancelButton, "✗"},
};

} // namespace

DBNavigator::DBNavigator(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("DBNavigator1"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const ButtonInfo& info : kButtons) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(info.name));
        b->setToolTip(QString::fromUtf8(info.hint));
        b->setIcon(style()->standardIcon(info.icon));
        if (b->icon().isNull())
            b->setText(QString::fromUtf8(info.glyph));
        b->setAutoRaise(false);
        b->setFocusPolicy(Qt::NoFocus);
        const NavButton nb = info.button;
        connect(b, &QToolButton::clicked, this, [this, nb] { click(nb); });
        layout->addWidget(b);
        buttons_[nb] = b;
    }
    updateButtons();
}

void DBNavigator::setDataSource(db::DataSource* ds) {
    disconnect(c1_);
    disconnect(c2_);
    source_ = ds;
    if (ds) {
        c1_ = connect(ds, &db::DataSource::dataChanged, this, [this](int) { updateButtons(); });
        c2_ = connect(ds, &db::DataSource::stateChanged, this, &DBNavigator::updateButtons);
    }
    updateButtons();
}

void DBNavigator::setVisibleButtons(const QList<NavButton>& visible) {
    for (auto& [nb, b] : buttons_)
        b->setVisible(visible.contains(nb));
}

void DBNavigator::setHint(NavButton b, const QString& hint) {
    buttons_.at(b)->setToolTip(hint);
}

void DBNavigator::updateButtons() {
    db::DataSet* ds = source_ ? source_->dataSet() : nullptr;
    const bool active = ds && ds->isActive() && source_->isEnabled();
    const bool editing = active && ds->isEditing();
    const bool canModify = active && !ds->readOnly();
    const bool empty = !active || ds->isEmpty();
    buttons_[NavButton::First]->setEnabled(active && !ds->bof());
    buttons_[NavButton::Prior]->setEnabled(active && !ds->bof());
    buttons_[NavButton::Next]->setEnabled(active && !ds->eof());
    buttons_[NavButton::Last]->setEnabled(active && !ds->eof());
    buttons_[NavButton::Insert]->setEnabled(canModify);
    buttons_[NavButton::Delete]->setEnabled(canModify && !empty);
    buttons_[NavButton::Edit]->setEnabled(canModify && !editing && !empty);
    buttons_[NavButton::Post]->setEnabled(editing);
    buttons_[NavButton::Cancel]->setEnabled(editing);
}

void DBNavigator::click(NavButton b) {
    db::DataSet* ds = source_ ? source_->dataSet() : nullptr;
    if (!ds)
        return;
    try {
        if (beforeAction)
            beforeAction(b);
        switch (b) {
        case NavButton::First:
            ds->first();
            break;
        case NavButton::Prior:
            ds->prior();
            break;
        case NavButton::Next:
            ds->next();
            break;
        case NavButton::Last:
            ds->last();
            break;
        case NavButton::Insert:
            ds->insert();
            break;
        case NavButton::Delete:
            if (confirmDelete_ && Prompter::current().confirm(window(), kDeleteQuestion,
                                                              Buttons::OkCancel) != Answer::Ok)
                return;
            ds->deleteRecord();
            break;
        case NavButton::Edit:
            ds->edit();
            break;
        case NavButton::Post:
            ds->post();
            break;
        case NavButton::Cancel:
            ds->cancel();
            break;
        }
    } catch (const db::Abort&) {
        updateButtons();
        return;
    } catch (const db::DbError& e) {
        updateButtons();
        Prompter::current().error(window(), e.text());
        return;
    }
    updateButtons();
    emit clicked(b);
}

} // namespace keldo::ui
