// The fixtures of the host tests: a simulated Windows that must be left with nothing open, and
// a simulated machine ready for an install run: English strings, an up-to-date engine in the
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

// Whether `text` starts with `prefix`; a failure shows both.
inline ::testing::AssertionResult StartsWith(const std::string& text, const std::string& prefix) {
    if (text.compare(0, prefix.size(), prefix) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "\"" << text << "\" starts otherwise than \"" << prefix << "\"";
}

class SimTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(sim.Leaks(), ""); }
    // One run of the setup as a fresh process: its records start empty, nothing is pending in
    // the application object, and the mutex it takes goes with it (another instance's stays).
    int Run(const std::u16string& arguments = u"") {
        Clear();
        theApp.restartPending = FALSE;
        theApp.progress.cancelRequested = 0;
        const std::set<std::u16string> heldByOthers = sim.existingMutexes;
        sim.commandLine = u"\"" + sim.modulePath + u"\" " + arguments;
        int result = theApp.WinMain();
        sim.existingMutexes = heldByOthers;
        return result;
    }
    // Texts of the message boxes shown, in order.
    Strings Boxes() const {
        Strings out;
        for (const auto& b : sim.messageBoxes) out.push_back(Utf8(b.text));
        return out;
    }
    // Forgets what happened so far: calls, boxes, verifications and child processes.
    void Clear() {
        sim.calls.clear();
        sim.messageBoxes.clear();
        sim.trustCalls.clear();
        sim.processes.clear();
    }
    SimWindows sim;
};

class InstallFixture : public SimTest {
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
        World();
    }
    virtual void World() {}     // what a suite adds to the machine
    void TearDown() override {  // the application object outlives the case
        SimTest::TearDown();
        theApp.config = &setupConfig;
        theApp.restartPending = theApp.notNt = FALSE;
        theApp.progress.cancelRequested = 0;
    }

    Strings Installs() const { return sim.CallsNamed("MsiInstallProductW"); }  // in call order
    // Presses Cancel on the progress window when a call containing `text` is made.
    void CancelAt(const std::string& text) {
        sim.onCall = [text](SimWindows& s, const std::string& call) {
            if (call.find(text) != std::string::npos) s.Click(s.DialogOf(IDD_PROGRESS), IDCANCEL);
        };
    }
};
