#include "app/AppWindows.h"
#include "widgets/QtPrompt.h"
#include "app/TApplication.h"
#include "app/TMainForm.h"
#include "platform/FontWarmUp.h"
#include "platform/Pictures.h"
#include "platform/SingleInstance.h"

#include <QImageReader>
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
    // Likewise the font configuration, which the menu bar's first paint
    // would otherwise wait for.
    std::jthread fonts(WarmUpFontConfiguration);

    bool demo = false;
    for (int i = 1; i < argc; ++i)
        if (strcasecmp(argv[i], "--demo") == 0)
            demo = true;
    // Qt takes its own options out of argv; the command-line words the main
    // window looks for are counted as the user typed them.
    const std::vector<const char*> words(argv, argv + argc);

    TApplication app(argc, argv);
    // The first icon the style draws (the menu bar's own) makes Qt look
    // through its image format plugins; that is done beside the window's
    // construction too.
    std::jthread imageFormats([] { QImageReader::supportedImageFormats(); });
    TApplication::SetTitle("Ulmaro read out");
    TApplication::setQuitOnLastWindowClosed(false);
    TQtPrompt prompt;
    SetPrompt(&prompt);

    // An exception that gets this far (a window that cannot be built) is
    // shown in the error box; the program then ends. The windows are not
    // torn down then: the one that failed may have left its global behind.
    // The main window is shown first; the other windows are built right
    // after its first paint, before any input can reach them.
    int rc = 1;
    const bool ran = TApplication::Guarded([&] {
        CreateMainWindow(int(words.size()), words.data(), demo);
        MainForm->show();
        MainForm->activateWindow();
        CompleteWindowsAfterFirstPaint();
        WatchShowRequests();
        rc = app.exec();
        return true;
    });
    if (!ran || !WindowsComplete())
        return 1;
    DestroyAllWindows();
    SetPrompt(nullptr);
    return rc;
}
