#pragma once
#include "app/AppWindows.h"
#include "app/TMainForm.h"
#include "platform/Paths.h"
#include "serial/ComPort.h"
#include "serial/TSetup_COM.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

// Base of the tests that build the whole program: settings in a scratch
// folder, a port list with one plain port (so the simulated ports the demo
// adds are all the rest), and everything torn down and put back afterwards.
class WholeProgramTest : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override
    {
        SetSettingsDirectoryOverride(dir.path());
        TSetup_COM::PortLister = [](QStringList& list) { list << "ttyS0"; };
    }
    void TearDown() override
    {
        if (MainForm)
            DestroyAllWindows();
        TSetup_COM::PortLister = [](QStringList& list) { TCustomComPort::EnumComDevicesFromRegistry(list); };
        SetSettingsDirectoryOverride("");
    }
};
