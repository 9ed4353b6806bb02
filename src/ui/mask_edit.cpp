#include "ui/mask_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QTimer>

namespace keldo::ui {

MaskEdit::MaskEdit(QWidget* parent) : QLineEdit(parent) {}

MaskEdit::MaskEdit(const QString& mask, QWidget* parent) : QLineEdit(parent) {
    setEditMask(mask);
}

void MaskEdit::setEditMask(const QString& mask) {
    const QString value = text();
    mask_ = EditMask(mask);
    if (!mask_.isNull())
        setMaxLength(mask_.length());
    // Drops and the context menu's paste reach the text without a key press;
    // the safety net below puts such text back into the mask's shape.
    setAcceptDrops(mask_.isNull());
    if (!reshape_)
        reshape_ = connect(this, &QLineEdit::textChanged, this, [this](const QString& shown) {
            if (mask_.isNull() || reshaping_ || shown == mask_.toEditText(shown))
                return;
            reshaping_ = true;
            setShown(mask_.toEditText(shown), cursorPosition());
            reshaping_ = false;
        });
    setText(value);
}

QString MaskEdit::text() const {
    return mask_.isNull() ? QLineEdit::text() : mask_.toText(QLineEdit::text());
}

void MaskEdit::setText(const QString& text) {
    if (mask_.isNull()) {
        QLineEdit::setText(text);
        return;
    }
    QLineEdit::setText(mask_.toEditText(text));
    setCursorPosition(0);
}

void MaskEdit::clear() {
    setText(QString());
}

int MaskEdit::nextInputPosition(int from) const {
    for (int i = std::max(from, 0); i < mask_.length(); ++i)
        if (!mask_.isLiteral(i))
            return i;
    return -1;
}

int MaskEdit::priorInputPosition(int from) const {
    for (int i = std::min(from, mask_.length() - 1); i >= 0; --i)
        if (!mask_.isLiteral(i))
            return i;
    return -1;
}

void MaskEdit::setShown(const QString& edit, int cursor) {
    const QString before = text();
    QLineEdit::setText(edit);
    setCursorPosition(std::clamp(cursor, 0, mask_.length()));
    const QString after = text();
    if (after != before)
        emit maskedTextEdited(after);
}

void MaskEdit::clearRange(int from, int to) {
    QString e = QLineEdit::text();
    for (int i = from; i < to && i < e.size(); ++i)
        if (!mask_.isLiteral(i))
            e[i] = mask_.blank();
    setShown(e, from);
}

bool MaskEdit::typeChar(QChar c) {
    if (mask_.isNull() || isReadOnly())
        return false;
    QString e = QLineEdit::text();
    int cur = cursorPosition();
    if (hasSelectedText()) {
        cur = selectionStart();
        const int end = cur + int(selectedText().size());
        for (int i = cur; i < end && i < e.size(); ++i)
            if (!mask_.isLiteral(i))
                e[i] = mask_.blank();
        deselect();
    }
    const int pos = nextInputPosition(cur);
    if (pos >= 0) {
        if (auto a = mask_.accept(pos, c)) {
            e[pos] = *a;
            const int next = nextInputPosition(pos + 1);
            setShown(e, next < 0 ? mask_.length() : next);
            return true;
        }
    }
    // The literal ahead: the section is done, go past it.
    for (int i = cur; i < mask_.length(); ++i) {
        if (mask_.isLiteral(i) && mask_.at(i).literal == c) {
            const int next = nextInputPosition(i + 1);
            setShown(e, next < 0 ? mask_.length() : next);
            return true;
        }
    }
    if (e != QLineEdit::text())
        setShown(e, cur);
    return false;
}

void MaskEdit::paste() {
    const QString clip = QApplication::clipboard()->text();
    for (QChar c : clip)
        typeChar(c);
}

void MaskEdit::keyPressEvent(QKeyEvent* e) {
    if (mask_.isNull()) {
        QLineEdit::keyPressEvent(e);
        return;
    }
    if (e->matches(QKeySequence::Paste)) {
        if (!isReadOnly())
            paste();
        return;
    }
    if (e->matches(QKeySequence::Cut) || e->matches(QKeySequence::Undo) ||
        e->matches(QKeySequence::Redo)) {
        if (e->matches(QKeySequence::Cut) && hasSelectedText() && !isReadOnly()) {
            QApplication::clipboard()->setText(selectedText());
            const int from = selectionStart();
            clearRange(from, from + int(selectedText().size()));
        }
        return;
    }
    switch (e->key()) {
    case Qt::Key_Backspace: {
        if (isReadOnly())
            return;
        if (hasSelectedText()) {
            const int from = selectionStart();
            clearRange(from, from + int(selectedText().size()));
            return;
        }
        const int pos = priorInputPosition(cursorPosition() - 1);
        if (pos >= 0)
            clearRange(pos, pos + 1);
        return;
    }
    case Qt::Key_Delete: {
        if (isReadOnly())
            return;
        if (hasSelectedText()) {
            const int from = selectionStart();
            clearRange(from, from + int(selectedText().size()));
            return;
        }
        const int pos = nextInputPosition(cursorPosition());
        if (pos >= 0) {
            clearRange(pos, pos + 1);
            setCursorPosition(pos);
        }
        return;
    }
    default:
        break;
    }
    const QString t = e->text();
    if (t.size() == 1 && t[0].isPrint() &&
        !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        typeChar(t[0]);
        return;
    }
    // Navigation, selection, copy, Enter and the rest.
    QLineEdit::keyPressEvent(e);
}

void MaskEdit::inputMethodEvent(QInputMethodEvent* e) {
    if (mask_.isNull()) {
        QLineEdit::inputMethodEvent(e);
        return;
    }
    for (QChar c : e->commitString())
        typeChar(c);
    e->accept();
}

void MaskEdit::focusInEvent(QFocusEvent* e) {
    QLineEdit::focusInEvent(e);
    if (mask_.isNull())
        return;
    // Start typing at the first position, as the old fields did.
    if (e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason ||
        e->reason() == Qt::ShortcutFocusReason)
        QTimer::singleShot(0, this, [this] { selectAll(); });
}

} // namespace keldo::ui
