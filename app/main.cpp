#include "app/AppWindows.h"
#include "widgets/QtPrompt.h"
#include "app/TApplication.h"
#include "app/TMainForm.h"
#include "platform/Pictures.h"
#include "platform/SingleInstance.h"

#include <QLocale>
#include <cstring>
#include <strings.h>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    // Before anything else: a second instance asks the first one to show
    // its window and ends, unless "task" stands on its command line.
    if (!SingleInstanceCheck(argc, argv))
        return 0;

    // The start view's pictures take a few milliseconds to decode; that is
    // done beside the Qt start-up, and the main window takes them when it
    // needs them (waiting, if need be, for the decode to end).
    std::jthread pictures([] {
        BuiltInWallpaper();
        BuiltInLogo();
    });

    bool demo = false;
    for (int i = 1; i < argc; ++i)
        if (strcasecmp(argv[i], "--demo") == 0)
            demo = true;
    // Qt takes its own options out of argv; the command-line words the main
    // window looks for are counted as the user typed them.
    const std::vector<const char*> words(argv, argv + argc);

    TApplication app(argc, argv);
    TApplication::SetTitle("Ulmaro read out");
    TApplication::setQuitOnLastWindowClosed(false);
    TQtPrompt prompt;
    SetPrompt(&prompt);

    // An exception that gets this far (a window that cannot be built) is
    // shown in the error box; the program then ends. The windows are not
    // torn down then: the one that failed may have left its global behind.
    int rc = 1;
    const bool ran = TApplication::Guarded([&] {
        CreateAllWindows(int(words.size()), words.data(), demo);
        MainForm->show();
        MainForm->activateWindow();
        WatchShowRequests();
        rc = app.exec();
        return true;
    });
    if (!ran)
        return 1;
    DestroyAllWindows();
    SetPrompt(nullptr);
    return rc;
}
