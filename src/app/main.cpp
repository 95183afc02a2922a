#include "app/application.h"
#include "app/data_module.h"
#include "app/server_commands.h"
#include "cards/main_window.h"

int main(int argc, char** argv)
{
    if (const auto code = ostrel::runServerCommand(argc, argv))
        return *code;
    ostrel::Application app(argc, argv);
    // The two objects of the run; every window gets what it needs from them.
    ostrel::TfrmDM frmDM;
    ostrel::TfrmMain frmMain(frmDM);
    // An engine error ends the start-up steps; the window is still shown and usable.
    ostrel::runGuarded([&] { frmMain.FormCreate(); });
    frmMain.showMaximized();
    return app.exec();
}
