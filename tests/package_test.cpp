// The program as a museum installs it: the Debian package unpacked into a folder of its own, and
// its kiosk launcher run from there under a loop that restarts it as quorv.service does.
#include <gtest/gtest.h>

#include "support/ExhibitRun.h"

namespace {

using namespace std::chrono_literals;
using namespace quorvtest;
using Confirm = ExhibitRun::Confirm;
using Clock = std::chrono::steady_clock;

const std::string kMarker =
                      "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n",  // one per marker, then the movie
    kSetUp = "yeah\n" + kMarker + kMarker + kMarker + "Got movie\n";

/// The demo feed is on the screen (the window is black until its first frame).
bool showsFeed(const cv::Mat& picture) { return cv::mean(picture)[1] > 40; }

TEST(PackageTest, TheUnpackedKioskRunsTheExhibitComesBackAfterSigkillAndEndsOnEscape) {
    const std::string out = freshFolder("deb"), root = freshFolder("root");
    shell("cd " + buildDirectory() + " && cpack -G DEB -B " + out + " >" + out + "/log 2>&1");
    const std::string deb = shell("printf %s " + out + "/quorv_*_*.deb");
    ASSERT_EQ(shell("dpkg -x " + deb + " " + root + " && echo ok"), "ok\n")
        << shell("tail -n 30 " + out + "/log");
    // Depends names what the program and each plugin link (shlibdeps); lintian finds no error.
    const std::string depends = shell("dpkg-deb -f " + deb + " Depends");
    for (const char* library : {"libopenscenegraph161", "libgtk-3-0", "libsdl-mixer1.2",
                                "libopencv-videoio406", "libopencv-imgproc406"})
        EXPECT_NE(depends.find(library), std::string::npos) << library << " in " << depends;
    EXPECT_EQ(shell("lintian --fail-on error " + deb + " >&2 && echo ok"), "ok\n");

    // The unpacked kiosk under a loop standing in for quorv.service (restart a second after any
    // failure but 255). No plugin folder or exhibit is named: both come from the unpacked tree.
    const std::string loop = out + "/supervise";
    shell(
        "printf '#!/bin/sh\\nwhile :; do %s; s=$?; case $s in 0|255) exit $s;; esac; sleep 1; "
        "done\\n' " +
        root + "/usr/bin/quorv-kiosk >" + loop + " && chmod +x " + loop);
    XServer server;
    ExhibitRun kiosk(server, "/", root + "/usr/share/quorv/exhibit/demo/demo-feed.avi",
                     Confirm::Launcher,
                     {{"QUORV_DEFAULTS", "/dev/null"}, {"QUORV_CONFIRM_AFTER", "1"}}, loop);
    const std::string program = "pgrep -fx " + root + "/usr/bin/quorv",
                      saver = "DISPLAY=" + server.display + " xset q | grep -o 'timeout: *[0-9]*'";
    for (int run = 0;; ++run) {
        ASSERT_TRUE(kiosk.ready()) << "run " << run << ": " << kiosk.problem();
        EXPECT_TRUE(showsFeed(kiosk.pictureWhen(showsFeed, 10s))) << "no camera picture";
        EXPECT_EQ(shell(saver), "timeout:  0\n") << "the screen saver still runs";
        if (run == 1) break;
        const std::string first = shell(program);
        const auto killed = Clock::now();
        shell("kill -KILL " + first);
        ASSERT_TRUE(
            until([&] { return !shell(program).empty() && shell(program) != first; }, 10s, 10ms))
            << "not started again";
        const std::chrono::duration<double> back = Clock::now() - killed;
        kiosk.confirm(Confirm::Launcher);
        std::printf("after SIGKILL: the program again after %.2f s, its viewer after %.2f s\n",
                    back.count(), std::chrono::duration<double>(Clock::now() - killed).count());
    }
    EXPECT_EQ(kiosk.quit(), 0) << kiosk.errors();
    EXPECT_EQ(kiosk.output(), kSetUp + kSetUp) << kiosk.errors();
    EXPECT_EQ(shell(saver), "timeout:  600\n") << "the screen saver is not put back";
}

}  // namespace
