#pragma once

// A line edit that follows one of the product's edit masks (edit_mask.h).
// The field always shows every position ("__/__/____" untouched); typing fills
// the position at the cursor and skips literals, typing the next literal
// (the ':' after a lone "9") jumps past it, Backspace and Delete clear
// positions without moving the others.
//
//   MaskEdit ed(QStringLiteral("!90/90/0000;1;_"));
//   if (ed.text() == QStringLiteral("  /  /    ")) ...   // untouched
//   auto day = readMaskedDate(ed.text());

#include "ui/edit_mask.h"

#include <QLineEdit>

namespace keldo::ui {

class MaskEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit MaskEdit(QWidget* parent = nullptr);
    explicit MaskEdit(const QString& mask, QWidget* parent = nullptr);

    // An empty mask makes this a plain line edit.
    void setEditMask(const QString& mask);
    const EditMask& editMask() const { return mask_; }

    // The value in the mask's text form ("05/03/2006", "  /  /    ", " 9:05").
    // These hide QLineEdit's text()/setText(), which work on the shown edit
    // text; call them through MaskEdit.
    QString text() const;
    void setText(const QString& text);
    QString editText() const { return QLineEdit::text(); }
    bool isBlank() const { return mask_.isBlank(text()); }
    bool isComplete() const { return mask_.isComplete(text()); }
    void clear();

    // Types one character at the cursor as a key press would; returns false
    // when the mask refuses it.
    bool typeChar(QChar c);

signals:
    // The operator changed the value (not emitted by setText).
    void maskedTextEdited(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;

private:
    int nextInputPosition(int from) const;
    int priorInputPosition(int from) const;
    void clearRange(int from, int to);
    void setShown(const QString& edit, int cursor);
    void paste();
    EditMask mask_;
    QMetaObject::Connection reshape_;
    bool reshaping_ = false;
};

} // namespace keldo::ui
