// The program as a museum installs it: the Debian package unpacked into a folder of its own and
// run from there; and the kiosk launcher under a loop that restarts it as quorv.service does.
#include <gtest/gtest.h>
#include <signal.h>

#include "support/ExhibitRun.h"

namespace {

using namespace std::chrono_literals;
using namespace quorvtest;
using Confirm = ExhibitRun::Confirm;
using Clock = std::chrono::steady_clock;

const std::string kMarker = "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n",
                  kSetUp = "yeah\n" + kMarker + kMarker + kMarker + "Got movie\n";

/// The demo feed is on the screen (the window is black until its first frame).
bool showsFeed(const cv::Mat& picture) { return cv::mean(picture)[1] > 40; }

TEST(PackageTest, TheUnpackedPackageRunsTheExhibitWithItsOwnPluginsAndData) {
    const std::string out = freshFolder("deb"), root = freshFolder("root");
    shell("cd " + buildDirectory() + " && cpack -G DEB -B " + out + " >" + out + "/log 2>&1");
    const std::string deb = shell("printf %s " + out + "/quorv_*_*.deb");
    ASSERT_EQ(shell("test -f " + deb + " && dpkg -x " + deb + " " + root + " && echo ok"), "ok\n")
        << shell("tail -n 30 " + out + "/log");
    // Depends names what the program and each plugin link (from shlibdeps).
    const std::string depends = shell("dpkg-deb -f " + deb + " Depends");
    for (const char* library : {"libopenscenegraph161", "libgtk-3-0", "libsdl-mixer1.2",
                                "libopencv-videoio406", "libopencv-imgproc406"})
        EXPECT_NE(depends.find(library), std::string::npos) << library << " in " << depends;
    EXPECT_EQ(shell("lintian --fail-on error " + deb + " >/dev/null 2>&1 && echo ok"), "ok\n")
        << shell("lintian " + deb);

    // From the unpacked exhibit folder, on its demo feed, with no plugin folder named: the
    // plugins can only come from the unpacked tree.
    XServer server;
    const std::string exhibit = root + "/usr/share/quorv/exhibit";
    ExhibitRun quorv(server, exhibit, exhibit + "/demo/demo-feed.avi", Confirm::Return, {},
                     root + "/usr/bin/quorv");
    ASSERT_TRUE(quorv.ready()) << quorv.problem();
    EXPECT_TRUE(showsFeed(quorv.pictureWhen(showsFeed, 10s))) << "no camera picture";
    EXPECT_EQ(quorv.quit(), 0) << quorv.errors();
    EXPECT_EQ(quorv.output(), kSetUp) << quorv.errors();
}

TEST(KioskTest, ComesBackAfterSigkillWithTheScreenKeptOnAndRestoredAfterEscape) {
    XServer server;
    const std::string folder = freshFolder("kiosk"), loop = folder + "/supervise";
    // systemd's part (quorv.service): restart a second after any failure but status 255.
    shell("echo 'QUORV_EXHIBIT=" + sourceDirectory() + "/exhibit' >" + folder + "/defaults");
    shell(
        "printf '#!/bin/sh\\nwhile :; do %s; s=$?; case $s in 0|255) exit $s;; esac; sleep 1; "
        "done\\n' " +
        buildPath("quorv-kiosk") + " >" + loop + " && chmod +x " + loop);
    ExhibitRun kiosk(
        server, "/", sourceDirectory() + "/exhibit/demo/demo-feed.avi", Confirm::Launcher,
        {{"QUORV_DEFAULTS", folder + "/defaults"}, {"QUORV_CONFIRM_AFTER", "1"}}, loop);
    const std::string xset = "DISPLAY=" + server.display + " xset q | grep -c ",
                      program = "pgrep -x quorv -g " + std::to_string(kiosk.pid());
    const std::string off = "'timeout:  0 .*cycle:  600'", on = "'timeout:  600 .*cycle:  600'";
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(kiosk.ready()) << "run " << run << ": " << kiosk.problem();
        EXPECT_TRUE(showsFeed(kiosk.pictureWhen(showsFeed, 10s))) << "no camera picture";
        EXPECT_EQ(shell(xset + off), "1\n") << "the screen saver still runs";
        if (run > 0) break;
        const std::string first = shell(program);
        const auto killed = Clock::now();
        shell("kill -KILL " + first);
        std::string next;
        ASSERT_TRUE(
            until([&] { return !(next = shell(program)).empty() && next != first; }, 10s, 10ms))
            << "not started again";
        const auto back = Clock::now();
        kiosk.confirm(Confirm::Launcher);
        const auto ms = [&](Clock::time_point t) {
            return std::chrono::duration_cast<std::chrono::milliseconds>(t - killed).count();
        };
        std::printf("after SIGKILL: program again after %lld ms, viewer after %lld ms\n",
                    static_cast<long long>(ms(back)), static_cast<long long>(ms(Clock::now())));
    }
    EXPECT_EQ(kiosk.quit(), 0) << kiosk.errors();
    EXPECT_EQ(kiosk.output(), kSetUp + kSetUp) << kiosk.errors();
    EXPECT_EQ(shell(xset + on), "1\n") << "the screen saver is not put back";
}

}  // namespace
