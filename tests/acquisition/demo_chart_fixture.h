#pragma once
// The real main window in demo mode, offscreen, its loops reading the
// simulated converter on a clock the test drives. `onSample` runs at every
// message processing of a loop; a program end is recorded, not carried out.
#include "acquisition/CAD_wandler.h"
#include "acquisition/ProgramExit.h"
#include "acquisition/TChart.h"
#include "app/AppWindows.h"
#include "app/TMainForm.h"
#include "platform/Paths.h"
#include "sim/SimConverter.h"
#include "tests/acquisition/fake_usb.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

class DemoChartTest : public ::testing::Test {
protected:
    DemoChartTest()
    {
        SetSettingsDirectoryOverride(dir.path());
        // Recordings go to the test's own folder, never the user's documents.
        dir.write("SETUP.INI", "[Chart]\r\nDataDirectory=" + dir.path() + "\r\n");
        const char* args[] = {"ulmaro", "--demo"};
        CreateAllWindows(2, args, true);
        MainForm->show();
        host.onProcess = [this] {
            QCoreApplication::processEvents();
            if (onSample)
                onSample();
        };
        SetEndProgramHook([this](int code) { exitCodes.push_back(code); });
    }
    ~DemoChartTest() override
    {
        SetEndProgramHook(nullptr);
        SimConverter::SetPresent(true);
        CloseConverterHandle();
        DestroyAllWindows();
        SetSettingsDirectoryOverride("");
    }
    size_t Points() const { return MainForm->Chart1->PointCount(); }

    TempDir dir;
    FakeHost host;
    std::function<void()> onSample;
    std::vector<int> exitCodes;
};
