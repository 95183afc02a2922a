#include "app/application.h"
#include "app/data_module.h"
#include "cards/main_window.h"

int main(int argc, char** argv)
{
    ostrel::Application app(argc, argv);
    ostrel::TfrmDM dataModule;
    ostrel::TfrmMain mainWindow;
    // An engine error ends the start-up steps; the window is still shown and usable.
    ostrel::runGuarded([&] { mainWindow.FormCreate(); });
    mainWindow.showMaximized();
    return app.exec();
}
