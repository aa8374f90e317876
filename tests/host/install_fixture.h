// A simulated machine ready for an install run: English strings, an up-to-date engine in the
// system directory, an x64 processor and the setup in C:\Downloads.
#pragma once

#include <gtest/gtest.h>

#include "app/setup_worker.h"
#include "app/shutdown_privilege.h"
#include "engine/bind_installer.h"
#include "engine/installer_location.h"
#include "engine/upgrade_installer.h"
#include "install/install_package.h"
#include "probes/probes.h"
#include "res/resource.h"
#include "state/kavrin_app.h"
#include "tests/sim/sim_windows.h"

class InstallFixture : public ::testing::Test {
protected:
    void SetUp() override {
        sim.LoadEnglishStrings();
        sim.AddTrustLibraries();
        sim.AddEngine();
        sim.AddSystemModule(u"comctl32.dll", {"InitCommonControlsEx"});
        sim.AddSystemModule(u"msimsg.dll", {});
        sim.AddSystemModule(u"urlmon.dll", {"URLDownloadToCacheFileW"});
        sim.nativeMachine = IMAGE_FILE_MACHINE_AMD64;
        sim.adminMember = TRUE;
        ForgetNativeMachine();
        theApp.config = &setupConfig;
    }
    void TearDown() override {
        EXPECT_EQ(sim.Leaks(), "");
        theApp.config = &setupConfig;
    }

    // One run of the setup as a fresh process (the previous run's mutex went with it).
    int Run(const std::u16string& arguments = u"") {
        sim.existingMutexes.clear();
        sim.commandLine = u"\"" + sim.modulePath + u"\" " + arguments;
        return theApp.WinMain();
    }
    // Texts of the message boxes shown, in order.
    std::vector<std::string> Boxes() const {
        std::vector<std::string> out;
        for (const auto& b : sim.messageBoxes) out.push_back(Utf8(b.text));
        return out;
    }
    std::vector<std::string> EngineCalls(const std::string& name) const {
        return sim.CallsNamed(name);
    }

    SimWindows sim;
};
