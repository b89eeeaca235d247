// What the graphics driver charges for the exhibit's live picture alone, with no scene graph:
// a window of the given size (default: the whole screen, as the viewer opens it), a 640x480
// camera picture uploaded into a 1024x512 texture every frame and drawn over the whole window
// with bilinear filtering, as the video background does. Frames are paced at 30 a second.
//
//   quorv-bench-gl [WIDTH HEIGHT] [ROUNDS]
//
// For each step, adding one piece of work at a time, prints the median over ROUNDS rounds
// (default 5) of the process's CPU time per frame, and the share of one core that makes at 30
// frames a second. With a software renderer this is the floor under the whole program's CPU.
#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#ifndef GL_BGR
#define GL_BGR 0x80E0
#endif

namespace {

double cpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

enum Step { SWAP, UPLOAD, CLEAR_DEPTH, CLEAR_COLOUR, PICTURE, STEPS };
const char* const kStepNames[STEPS] = {"swap only", "+ upload 640x480 picture", "+ clear depth",
                                       "+ clear colour", "+ picture over the window"};

/// One frame with every piece of work up to and including `last`.
void drawFrame(Step last, const std::vector<unsigned char>& picture) {
    if (last >= UPLOAD)
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 640, 480, GL_BGR, GL_UNSIGNED_BYTE, picture.data());
    if (last >= CLEAR_DEPTH) glClear(GL_DEPTH_BUFFER_BIT);
    if (last >= CLEAR_COLOUR) glClear(GL_COLOR_BUFFER_BIT);
    if (last >= PICTURE) {
        glEnable(GL_TEXTURE_2D);
        glBegin(GL_QUADS);
        glTexCoord2f(0, 0);
        glVertex2f(-1, -1);
        glTexCoord2f(0.625f, 0);
        glVertex2f(1, -1);
        glTexCoord2f(0.625f, 0.9375f);
        glVertex2f(1, 1);
        glTexCoord2f(0, 0.9375f);
        glVertex2f(-1, 1);
        glEnd();
        glDisable(GL_TEXTURE_2D);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "quorv-bench-gl: no display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    // quorv-bench-gl [WIDTH HEIGHT] [ROUNDS]: two numbers are a size, one or three end in ROUNDS.
    const bool sized = argc >= 3;
    const int width = sized ? std::atoi(argv[1]) : DisplayWidth(display, screen);
    const int height = sized ? std::atoi(argv[2]) : DisplayHeight(display, screen);
    const char* roundsArgument =
        sized ? (argc > 3 ? argv[3] : nullptr) : (argc > 1 ? argv[1] : nullptr);
    const int rounds = std::max(1, roundsArgument ? std::atoi(roundsArgument) : 5);
    int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_DEPTH_SIZE, 24, None};
    XVisualInfo* visual = glXChooseVisual(display, screen, attributes);
    if (!visual) {
        std::fprintf(stderr, "quorv-bench-gl: no double-buffered visual\n");
        return 1;
    }
    XSetWindowAttributes windowAttributes{};
    windowAttributes.colormap =
        XCreateColormap(display, RootWindow(display, screen), visual->visual, AllocNone);
    const Window window =
        XCreateWindow(display, RootWindow(display, screen), 0, 0, width, height, 0, visual->depth,
                      InputOutput, visual->visual, CWColormap, &windowAttributes);
    XMapWindow(display, window);
    GLXContext context = glXCreateContext(display, visual, nullptr, True);
    glXMakeCurrent(display, window, context);
    std::printf("%s, %dx%d window, %d rounds of 60 frames\n", glGetString(GL_RENDERER), width,
                height, rounds);

    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1024, 512, 0, GL_BGR, GL_UNSIGNED_BYTE, nullptr);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glViewport(0, 0, width, height);
    std::vector<unsigned char> picture(640 * 480 * 3);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<unsigned char>(i * 7);

    const int framesPerRound = 60;
    for (int step = SWAP; step < STEPS; ++step) {
        std::vector<double> perFrame;
        for (int round = -1; round < rounds; ++round) {  // round -1 warms up
            const double start = cpuMilliseconds();
            auto next = std::chrono::steady_clock::now();
            for (int frame = 0; frame < framesPerRound; ++frame) {
                drawFrame(static_cast<Step>(step), picture);
                glXSwapBuffers(display, window);
                glFinish();
                next += std::chrono::microseconds(33333);
                std::this_thread::sleep_until(next);
            }
            if (round >= 0) perFrame.push_back((cpuMilliseconds() - start) / framesPerRound);
        }
        std::sort(perFrame.begin(), perFrame.end());
        const double median = perFrame[perFrame.size() / 2];
        std::printf("  %-28s %6.2f ms CPU per frame  %5.1f %% of one core at 30 fps\n",
                    kStepNames[step], median, median * 30.0 / 10.0);
    }
    glXMakeCurrent(display, None, nullptr);
    glXDestroyContext(display, context);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return 0;
}
