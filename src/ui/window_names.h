// The names by which the window registry knows the windows (window_registry.h):
// the menu table, the subsystems that register openers and the windows that
// open one another all spell a name through these, so a misspelt name fails to
// compile instead of leaving a menu entry disabled for good.
//
// Each is the class name of the product's window, which is also what the menu
// table and the permission rules call it.
#pragma once

namespace keldo::ui {

// "&Cadastro"
inline constexpr char kTfmEmpresa[] = "TfmEmpresa";
inline constexpr char kTfmFuncs[] = "TfmFuncs";
inline constexpr char kTfmFeriados[] = "TfmFeriados";
inline constexpr char kTfmFaixaH[] = "TfmFaixaH";
inline constexpr char kTfmGrupof[] = "TfmGrupof";
inline constexpr char kTfmMens[] = "TfmMens";
inline constexpr char kTfmSirene[] = "TfmSirene";

// "&Sistema"
inline constexpr char kTfmExporta[] = "TfmExporta";
inline constexpr char kTfmExpFun[] = "TfmExpFun";
inline constexpr char kTfmImportaf[] = "TfmImportaf";
inline constexpr char kTfmExclui[] = "TfmExclui";
inline constexpr char kTfmPermisso[] = "TfmPermisso";
inline constexpr char kTfmManipula[] = "TfmManipula";

// "C&onfigurações"
inline constexpr char kTfmLayOutAr[] = "TfmLayOutAr";
inline constexpr char kTfmConfig[] = "TfmConfig";
inline constexpr char kTfmConfTime[] = "TfmConfTime";
inline constexpr char kTfmTavfix[] = "TfmTavfix";

// "&Relatórios". The employee list is a report without a window of its own.
inline constexpr char kRelFuncionarios[] = "RelFuncionarios";
inline constexpr char kTfmRelBatid[] = "TfmRelBatid";
inline constexpr char kTfmRelAnor[] = "TfmRelAnor";
inline constexpr char kTfmPontos[] = "TfmPontos";

// "Utilitários" and "&Ajuda"
inline constexpr char kTfmBackRest[] = "TfmBackRest";
inline constexpr char kTfmAcionaSuporte[] = "TfmAcionaSuporte";

// Opened from other windows: the employee search (from the employee, message,
// punch and time card windows), the fingerprints (from the employee window)
// and the maze game (from the About window).
inline constexpr char kTfmListaUser[] = "TfmListaUser";
inline constexpr char kTfmDigital[] = "TfmDigital";
inline constexpr char kTfmFolks[] = "TfmFolks";

} // namespace keldo::ui
