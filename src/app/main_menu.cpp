#include "main_menu.h"

#include "ui/window_names.h"

namespace keldo::app {
namespace {

MenuEntry window(const char* caption, const char* name, const char* target,
                 const char* tables = nullptr) {
    MenuEntry e;
    e.caption = caption;
    e.name = name;
    e.target = target;
    e.tables = tables;
    return e;
}

MenuEntry act(const char* caption, const char* name, EntryAction action,
              const char* target = nullptr) {
    MenuEntry e = window(caption, name, target);
    e.action = action;
    return e;
}

MenuEntry separator() {
    return {};
}

} // namespace

const QList<MenuDef>& mainMenu() {
    static const QList<MenuDef> menu = [] {
        MenuEntry funcs = window("Colaboradores", "Funcionrios1", ui::kTfmFuncs);
        funcs.photoSwitch = true;
        MenuEntry backup = window("Backup do sistema", "Backupdosistema1", ui::kTfmBackRest);
        backup.closesDataSets = true;
        backup.hiddenAsDesigned = true;
        return QList<MenuDef>{
            {"&Cadastro",
             "Cadastro1",
             {
                 window("Empresas", "Empresas1", ui::kTfmEmpresa),
                 funcs,
                 window("Feriados", "Feriados1", ui::kTfmFeriados),
                 separator(),
                 window("Faixas de horários", "Faixasdehorrios1", ui::kTfmFaixaH, "tbFaixaH"),
                 window("Associação de faixas de horários para controle de acesso",
                        "Associaodefaixasdehorriosparacontroledeacesso1", ui::kTfmGrupof,
                        "tbFaixaH;tbGrupof;qyGrupof"),
                 window("Mensagens", "Mensagens1", ui::kTfmMens),
                 window("Sirene", "Sirene1", ui::kTfmSirene),
             }},
            {"&Sistema",
             "Sistema1",
             {
                 window("Exportar pontos", "Exportarpontos1", ui::kTfmExporta),
                 window("Exportar cadastro de colaboradores", "Exportarcadastrodefuncionrios1",
                        ui::kTfmExpFun),
                 window("Importar cadastro de colaboradores", "Importarcadastrodefuncionrios1",
                        ui::kTfmImportaf),
                 window("Exclusão de movimentos", "Exclusodemovimentos1", ui::kTfmExclui),
                 act("Senhas de acesso", "Senhasdeacesso1", EntryAction::Permissions,
                     ui::kTfmPermisso),
                 window("Manutenção de Pontos", "N3", ui::kTfmManipula),
             }},
            {"C&onfigurações",
             "Configuraes1",
             {
                 window("Formato de exportação do arquivo de saída", "Formatodoarquivodesada1",
                        ui::kTfmLayOutAr),
                 window("Configurações gerais", "Coletadedados1", ui::kTfmConfig),
                 window("Relógio de tempo real", "Relgiodetemporeal1", ui::kTfmConfTime),
                 window("Tavrun", "Tavrun1", ui::kTfmTavfix),
             }},
            {"&Relatórios",
             "Relatrios1",
             {
                 window("Colaboradores", "Funcionrios2", ui::kRelFuncionarios),
                 window("Batidas", "Batidas1", ui::kTfmRelBatid),
                 window("Anormalidades", "Anormalidades1", ui::kTfmRelAnor),
                 window("Cartão de Ponto", "CartodePonto1", ui::kTfmPontos),
             }},
            {"Utilitários",
             "Utilitrios1",
             {
                 act("Calculadora", "Calculadora1", EntryAction::Program, "CALC"),
                 act("Calculadora de horas", "Calculadoradehoras1", EntryAction::Program, "HORIX"),
                 act("Bloco de notas", "Blocodenotas1", EntryAction::Program, "notepad"),
                 backup,
             }},
            {"&Ajuda",
             "Ajuda1",
             {
                 act("Sobre", "Sobre1", EntryAction::About),
                 act("Suporte Online", "SuporteOnline1", EntryAction::SupportPage),
                 window("Acionar suporte", "Acionarsuporte1", ui::kTfmAcionaSuporte),
             }},
            {"Sair", "Sair1", {}, EntryAction::Exit},
        };
    }();
    return menu;
}

} // namespace keldo::app
