#include "TfmPermisso.h"
namespace keldo::app {
TfmPermisso::TfmPermisso(db::TDDados& dm, QWidget* parent) : QDialog(parent), dm_(dm) {}
TfmPermisso::~TfmPermisso() = default;
void TfmPermisso::RetornaClick() {}
} // namespace keldo::app
