#include "app/application.h"
#include "app/data_module.h"
#include "app/command_line.h"
#include "cards/main_window.h"
#include "core/open_database.h"

int main(int argc, char** argv)
{
    if (const auto code = ostrel::runCommandLine(argc, argv))
        return *code;
    ostrel::Application app(argc, argv);
    // The file, or the team server its settings name; a server that cannot be used is
    // reported, never replaced by the file.
    ostrel::OpenedCardDatabase database;
    ostrel::runGuarded([&] { database = ostrel::openCardDatabaseFor(ostrel::programDir()); });
    if (!database.database)
        return 1;
    // The two objects of the run; every window gets what it needs from them.
    ostrel::TfrmDM frmDM(std::move(database));
    ostrel::TfrmMain frmMain(frmDM);
    // An engine error ends the start-up steps; the window is still shown and usable.
    ostrel::runGuarded([&] { frmMain.FormCreate(); });
    frmMain.showMaximized();
    return app.exec();
}
