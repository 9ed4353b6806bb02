// Errors of the database layer.
//
// Every failure of the engine reaches the caller as one exception type,
// DbError, whose text is the engine's own (plus, for a key violation, the
// Portuguese sentence the operator understands). Windows show that text;
// logic never inspects it.
#pragma once

#include <QString>
#include <stdexcept>
#include <utility>

namespace keldo::db {

class DbError : public std::runtime_error {
public:
    explicit DbError(const QString& text, bool keyViolation = false)
        : std::runtime_error(text.toStdString()), text_(text), keyViolation_(keyViolation) {}
    // The text to show: the engine's message, or ours for our own checks.
    const QString& text() const { return text_; }
    // The operation failed because a row with the same key already exists.
    bool isKeyViolation() const { return keyViolation_; }

private:
    QString text_;
    bool keyViolation_;
};

// Thrown by an event handler (before post, before delete...) to abandon the
// operation without a message, as the original's silent Abort did. The
// handler has already told the operator why.
class Abort : public std::exception {
public:
    const char* what() const noexcept override { return "operation abandoned"; }
};

// The Abort of a rule of the data module that refused a change: the operator
// has been told `text()` (through TDDados::tellOperator); callers that report
// elsewhere (keldoctl, an import's result) can repeat it.
class Refusal : public Abort {
public:
    explicit Refusal(QString text) : text_(std::move(text)) {}
    const QString& text() const { return text_; }

private:
    QString text_;
};

inline const char* kKeyViolationText = "Violação de chave: já existe um registro com essa chave.";

} // namespace keldo::db
