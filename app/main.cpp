#include "app/AppWindows.h"
#include "widgets/QtPrompt.h"
#include "app/TApplication.h"
#include "app/TMainForm.h"
#include "platform/FontWarmUp.h"
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

    // The font configuration takes several milliseconds to load, and the
    // menu bar's first paint needs it: it is loaded beside the Qt start-up.
    std::jthread fonts(WarmUpFontConfiguration);

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
    // The main window is shown first; the other windows are built right
    // after its first paint, before any input can reach them.
    int rc = 1;
    const bool ran = TApplication::Guarded([&] {
        CreateMainWindow(int(words.size()), words.data(), demo);
        // Showing lays out the menu bar: Qt's first use of the font
        // configuration. Fontconfig does not wait for a load that another
        // thread has under way but starts a second one of its own, so the
        // wait for the first is here.
        if (fonts.joinable())
            fonts.join();
        MainForm->show();
        MainForm->activateWindow();
        CompleteWindowsAfterFirstPaint();
        WatchShowRequests();
        rc = app.exec();
        // The event loop is over, but a question can still be asked.
        if (MainForm)
            MainForm->FinishRecording();
        return true;
    });
    if (!ran || !WindowsComplete())
        return 1;
    DestroyAllWindows();
    SetPrompt(nullptr);
    return rc;
}
