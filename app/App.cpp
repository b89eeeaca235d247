#include "App.h"

#include <OsgArt.h>

App::App() { viewer = OsgArt::instance(); }

void App::setUpExhibit() {}

void App::runFrameLoop() {
    while (!viewer->done()) {
        viewer->frame();
    }
}

void App::tearDown() {}
