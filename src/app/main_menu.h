// The main menu as data: every menu and entry in menu order, with its
// caption, designer name (the widget's objectName) and what it does. The main
// window builds its menu bar from this table and nothing else.
#pragma once

#include <QList>

namespace keldo::app {

enum class EntryAction {
    Window,      // opens the registered window `target` modally
    Program,     // starts the external program `target`
    SupportPage, // opens the online support page
    About,       // TfmSobre
    Permissions, // the permission editor `target`, then apply permissions again
    Exit,        // "Deseja sair?"
};

struct MenuEntry {
    const char* caption = nullptr; // nullptr: a separator
    const char* name = nullptr;
    EntryAction action = EntryAction::Window;
    const char* target = nullptr; // window opener name or program name
    // Data-module components opened before the window and closed after it,
    // separated by ';'.
    const char* tables = nullptr;
    bool photoSwitch = false;    // the photo display switch is on while it is open
    bool closesDataSets = false; // every dataset closed, the open ones reopened after
    bool hiddenAsDesigned = false;
};

struct MenuDef {
    const char* caption;
    const char* name;
    QList<MenuEntry> entries; // empty: the menu bar item acts by itself
    EntryAction action = EntryAction::Window;
};

const QList<MenuDef>& mainMenu();

inline constexpr const char* kSupportPageUrl = "https://www.corvaldi.com.br/suporteonline/keldoran";
inline constexpr const char* kComingSoonHint = "Disponível em breve";
inline constexpr const char* kExitQuestion = "Deseja sair?";

} // namespace keldo::app
