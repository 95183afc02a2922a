// Test entry point: an offscreen application with every box answered from the queues.
#include "app/application.h"
#include "app/dialogs.h"
#include "formats/workbook/workbook_xls.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    ostrel::Application app(argc, argv);
    ostrel::testhooks::enable();
    // Not beside this executable: the one in the build folder.
    ostrel::workbook::setXlsHelper({QStringLiteral(OSTREL_XLS_HELPER), {}, ostrel::workbook::kXlsWaitSeconds});
    return RUN_ALL_TESTS();
}
