// What the graphics driver charges for the exhibit's live picture alone, with no scene graph:
// a window of the given size (default: the whole screen, as the viewer opens it), a 640x480
// camera picture uploaded into a 1024x512 texture every frame and drawn over the whole window
// with bilinear filtering, as the video background does. Frames are paced at 30 a second.
//
//   quorv-bench-gl [WIDTH HEIGHT] [ROUNDS]
//
// For each way of drawing, prints the median over ROUNDS rounds (default 5) of the process's CPU
// time per frame, and the share of one core that makes at 30 frames a second. The first rows
// add one piece of the program's work at a time; the last two replace its bilinear picture with
// the cheapest whole-window passes there are: nearest filtering, and a picture already at the
// window's size copied 1:1 (the CPU's scaling of it not counted). With a software renderer this
// is the floor under the whole program's CPU.
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

namespace {

double cpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

enum Step { SWAP, UPLOAD, CLEAR_DEPTH, PICTURE, NEAREST, COPY, STEPS };
const char* const kStepNames[STEPS] = {"swap only",
                                       "+ upload 640x480 picture",
                                       "+ clear depth",
                                       "+ picture over the window",
                                       "  the same, nearest filtering",
                                       "  instead: window-sized copy 1:1"};

/// The textures and the framebuffer the steps draw from.
struct Pictures {
    GLuint camera = 0;      // 1024x512, the 640x480 picture in its corner
    GLuint windowSized = 0; // the picture as it would be after scaling to the window
    GLuint copySource = 0;  // a framebuffer reading windowSized
    int width = 0, height = 0;
};

void drawPicture() {
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

/// One frame of `step`'s work: the rows up to the picture add up; the last two stand in for it.
void drawFrame(Step step, const Pictures& pictures, const std::vector<unsigned char>& camera,
               const std::vector<unsigned char>& windowSized) {
    if (step == COPY) {
        glBindTexture(GL_TEXTURE_2D, pictures.windowSized);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, pictures.width, pictures.height, GL_BGRA,
                        GL_UNSIGNED_BYTE, windowSized.data());
        glClear(GL_DEPTH_BUFFER_BIT);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, pictures.copySource);
        glBlitFramebuffer(0, 0, pictures.width, pictures.height, 0, 0, pictures.width,
                          pictures.height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        return;
    }
    glBindTexture(GL_TEXTURE_2D, pictures.camera);
    if (step >= UPLOAD)
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 640, 480, GL_BGR, GL_UNSIGNED_BYTE, camera.data());
    if (step >= CLEAR_DEPTH) glClear(GL_DEPTH_BUFFER_BIT);
    if (step >= PICTURE) {
        const GLint filter = step == NEAREST ? GL_NEAREST : GL_LINEAR;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        drawPicture();
    }
}

GLuint makeTexture(int width, int height, GLenum format) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, format, GL_UNSIGNED_BYTE, nullptr);
    return texture;
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

    Pictures pictures;
    pictures.width = width;
    pictures.height = height;
    pictures.camera = makeTexture(1024, 512, GL_BGR);
    pictures.windowSized = makeTexture(width, height, GL_BGRA);
    glGenFramebuffers(1, &pictures.copySource);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, pictures.copySource);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                           pictures.windowSized, 0);
    const bool canCopy =
        glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glViewport(0, 0, width, height);
    std::vector<unsigned char> camera(640 * 480 * 3);
    for (size_t i = 0; i < camera.size(); ++i) camera[i] = static_cast<unsigned char>(i * 7);
    std::vector<unsigned char> windowSized(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < windowSized.size(); ++i)
        windowSized[i] = static_cast<unsigned char>(i * 5);

    const int framesPerRound = 60;
    for (int step = SWAP; step < STEPS; ++step) {
        if (step == COPY && !canCopy) {
            std::printf("  %-32s (the driver cannot read from a texture's framebuffer)\n",
                        kStepNames[step]);
            continue;
        }
        std::vector<double> perFrame;
        for (int round = -1; round < rounds; ++round) {  // round -1 warms up
            const double start = cpuMilliseconds();
            auto next = std::chrono::steady_clock::now();
            for (int frame = 0; frame < framesPerRound; ++frame) {
                drawFrame(static_cast<Step>(step), pictures, camera, windowSized);
                glXSwapBuffers(display, window);
                glFinish();
                next += std::chrono::microseconds(33333);
                std::this_thread::sleep_until(next);
            }
            if (round >= 0) perFrame.push_back((cpuMilliseconds() - start) / framesPerRound);
        }
        std::sort(perFrame.begin(), perFrame.end());
        const double median = perFrame[perFrame.size() / 2];
        std::printf("  %-32s %6.2f ms CPU per frame  %5.1f %% of one core at 30 fps\n",
                    kStepNames[step], median, median * 30.0 / 10.0);
    }
    glXMakeCurrent(display, None, nullptr);
    glXDestroyContext(display, context);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return 0;
}
