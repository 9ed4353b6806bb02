// The support console: runs the typed text as one statement on qySQL.
#pragma once

#include "ui/window_kit.h"

class QPlainTextEdit;

namespace keldo::db {
class TDDados;
}

namespace keldo::app {

inline constexpr const char* kDoneText = "Pronto!";

class TfmExecSQL : public ui::FixedDialog {
    Q_OBJECT
public:
    explicit TfmExecSQL(db::TDDados& dm, QWidget* parent = nullptr);

private:
    void Button1Click();

    db::TDDados& dm_;
    QPlainTextEdit* Memo1;
};

} // namespace keldo::app
