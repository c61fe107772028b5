#include "app/AppWindows.h"
#include "app/TApplication.h"
#include "app/TMainForm.h"
#include "platform/SingleInstance.h"

#include <QLocale>
#include <cstring>
#include <strings.h>

int main(int argc, char** argv)
{
    // Before anything else: a second instance ends silently unless "task"
    // stands on its command line.
    if (!SingleInstanceCheck(argc, argv))
        return 0;

    bool demo = false;
    for (int i = 1; i < argc; ++i)
        if (strcasecmp(argv[i], "--demo") == 0)
            demo = true;

    TApplication app(argc, argv);
    TApplication::setApplicationName("Ulmaro read out");
    TApplication::setApplicationDisplayName("Ulmaro read out");
    TApplication::setQuitOnLastWindowClosed(false);

    CreateAllWindows(argc, argv, demo);
    MainForm->show();
    MainForm->activateWindow();
    const int rc = app.exec();
    DestroyAllWindows();
    return rc;
}
