// The operator's session: the login at start-up and "apply permissions",
// which turns the flags of the operator's permisso row into enabled and
// disabled menu entries. Plain logic: the windows come in through LoginHost.
//
//   if (!loginAtStartup(dm, host)) return; // cancelled or three failures
//   ...
//   if (!applyPermissions(dm, host)) quit(); // after the permission editor
#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace keldo::db {
class TDDados;
class DataSet;
} // namespace keldo::db

namespace keldo::app {

// One permission flag of permisso and the menu or entry it governs.
struct PermissionRule {
    const char* field;
    const char* entry; // objectName of the menu or entry
};

// In the order apply permissions sets them.
const QList<PermissionRule>& permissionRules();

inline constexpr const char* kOperatorNotFound = "Operador não cadastrado!";

struct Credentials {
    QString login;
    QString password;
};

// What the login and the permissions need from the windows.
class LoginHost {
public:
    virtual ~LoginHost() = default;
    // Shows the login dialog modally; nullopt when it was closed other than
    // with OK. The texts are taken as typed.
    virtual std::optional<Credentials> askCredentials() = 0;
    // Shows kOperatorNotFound as an error.
    virtual void operatorNotFound() = 0;
    // The main window's status bar shows the operator's login.
    virtual void showOperator(const QString& login) = 0;
    // One governed menu or entry, in the order of permissionRules().
    virtual void setEntryPermitted(const QString& entry, bool permitted) = 0;
};

// Whether the pair is an operator: an exact match on both fields, case
// included. Makes the operator's row current in tbPermisso (a pending edit is
// stored or dropped first, as a move does). Throws DbError.
bool findOperator(db::TDDados& dm, const Credentials& who);

// The state of each governed entry on the current row of a permisso dataset:
// a flag read as an integer is granted when it is 0 (an empty flag reads 0).
QList<QPair<QString, bool>> permissionStates(db::DataSet& permisso);

// At most three attempts; on success the operator is the session's and the
// permissions are applied. False when the dialog was cancelled or the third
// attempt failed: the program ends. Throws DbError.
bool loginAtStartup(db::TDDados& dm, LoginHost& host);

// Sets every governed entry from the logged-in operator's row. When that row
// is gone (changed in the permission editor), asks for a login until a pair
// is found, with no limit; false when that dialog is cancelled, which ends
// the program. Throws DbError.
bool applyPermissions(db::TDDados& dm, LoginHost& host);

} // namespace keldo::app
