#pragma once

#include "FakeScanHost.h"

#include "app/WindowScan.h"
#include "scan/ShortcutScan.h"
#include "shell/ShellLinkService.h"
#include "support/TempDrives.h"

#include <gtest/gtest.h>

// A scan of temporary drives (c: and d: unless told) with a recording window
// and the real link service, on drive c:.
class RealScanFixture : public ::testing::Test
{
protected:
    explicit RealScanFixture(const QString &letters = QStringLiteral("cd")) : drives(letters)
    {
        results.SelectedDrive = QStringLiteral("c");
    }

    TempDrives drives;
    FakeScanHost host;
    ShellLinkService service{drives.context()};
    ScanResults results;
    ShortcutScan walker{service, drives.context()};
    WindowScan scan{host, results, walker};
};
