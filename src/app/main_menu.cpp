#include "main_menu.h"

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
        MenuEntry funcs = window("Colaboradores", "Funcionrios1", "TfmFuncs");
        funcs.photoSwitch = true;
        MenuEntry backup = window("Backup do sistema", "Backupdosistema1", "TfmBackRest");
        backup.closesDataSets = true;
        backup.hiddenAsDesigned = true;
        return QList<MenuDef>{
            {"&Cadastro",
             "Cadastro1",
             {
                 window("Empresas", "Empresas1", "TfmEmpresa"),
                 funcs,
                 window("Feriados", "Feriados1", "TfmFeriados"),
                 separator(),
                 window("Faixas de horários", "Faixasdehorrios1", "TfmFaixaH", "tbFaixaH"),
                 window("Associação de faixas de horários para controle de acesso",
                        "Associaodefaixasdehorriosparacontroledeacesso1", "TfmGrupof",
                        "tbFaixaH;tbGrupof;qyGrupof"),
                 window("Mensagens", "Mensagens1", "TfmMens"),
                 window("Sirene", "Sirene1", "TfmSirene"),
             }},
            {"&Sistema",
             "Sistema1",
             {
                 window("Exportar pontos", "Exportarpontos1", "TfmExporta"),
                 window("Exportar cadastro de colaboradores", "Exportarcadastrodefuncionrios1",
                        "TfmExpFun"),
                 window("Importar cadastro de colaboradores", "Importarcadastrodefuncionrios1",
                        "TfmImportaf"),
                 window("Exclusão de movimentos", "Exclusodemovimentos1", "TfmExclui"),
                 act("Senhas de acesso", "Senhasdeacesso1", EntryAction::Permissions,
                     "TfmPermisso"),
                 window("Manutenção de Pontos", "N3", "TfmManipula"),
             }},
            {"C&onfigurações",
             "Configuraes1",
             {
                 window("Formato de exportação do arquivo de saída", "Formatodoarquivodesada1",
                        "TfmLayOutAr"),
                 window("Configurações gerais", "Coletadedados1", "TfmConfig"),
                 window("Relógio de tempo real", "Relgiodetemporeal1", "TfmConfTime"),
                 window("Tavrun", "Tavrun1", "TfmTavfix"),
             }},
            {"&Relatórios",
             "Relatrios1",
             {
                 window("Colaboradores", "Funcionrios2", "RelFuncionarios"),
                 window("Batidas", "Batidas1", "TfmRelBatid"),
                 window("Anormalidades", "Anormalidades1", "TfmRelAnor"),
                 window("Cartão de Ponto", "CartodePonto1", "TfmPontos"),
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
                 window("Acionar suporte", "Acionarsuporte1", "TfmAcionaSuporte"),
             }},
            {"Sair", "Sair1", {}, EntryAction::Exit},
        };
    }();
    return menu;
}

} // namespace keldo::app
