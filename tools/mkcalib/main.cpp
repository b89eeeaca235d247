// quorv-mkcalib: writes a camera parameter file (the classic 136-byte form) from the numbers of a
// pinhole camera with one radial distortion factor, or prints the contents of an existing file.
//
//   quorv-mkcalib write OUT WIDTH HEIGHT FX FY CX CY [DIST_X0 DIST_Y0 DIST_F DIST_S]
//   quorv-mkcalib show FILE [WIDTH HEIGHT]
#include <osgart/CameraParameters.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: quorv-mkcalib write OUT WIDTH HEIGHT FX FY CX CY "
                 "[DIST_X0 DIST_Y0 DIST_F DIST_S]\n"
                 "       quorv-mkcalib show FILE [WIDTH HEIGHT]\n");
    return 2;
}

void show(const osgART::CameraParameters& p) {
    std::printf("size %d x %d (%s form)\n", p.xsize, p.ysize,
                p.model == osgART::CameraParameters::Model::Radial4 ? "136-byte" : "176-byte");
    for (const auto& row : p.mat)
        std::printf("mat  %12.6f %12.6f %12.6f %12.6f\n", row[0], row[1], row[2], row[3]);
    const int n = p.model == osgART::CameraParameters::Model::Radial4 ? 4 : 9;
    std::printf("dist");
    for (int i = 0; i < n; ++i) std::printf(" %.6f", p.dist[i]);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string command = argv[1];
    if (command == "show") {
        std::string error;
        auto p = osgART::CameraParameters::read(argv[2], &error);
        if (!p) {
            std::fprintf(stderr, "quorv-mkcalib: %s\n", error.c_str());
            return 1;
        }
        if (argc == 5) p = p->scaled(std::atoi(argv[3]), std::atoi(argv[4]));
        show(*p);
        return 0;
    }
    if (command != "write" || (argc != 9 && argc != 13)) return usage();
    osgART::CameraParameters p;
    p.xsize = std::atoi(argv[3]);
    p.ysize = std::atoi(argv[4]);
    const double fx = std::atof(argv[5]), fy = std::atof(argv[6]);
    const double cx = std::atof(argv[7]), cy = std::atof(argv[8]);
    p.mat = {{{fx, 0.0, cx, 0.0}, {0.0, fy, cy, 0.0}, {0.0, 0.0, 1.0, 0.0}}};
    p.model = osgART::CameraParameters::Model::Radial4;
    p.dist = {cx, cy, 0.0, 1.0};
    if (argc == 13)
        for (int i = 0; i < 4; ++i) p.dist[static_cast<size_t>(i)] = std::atof(argv[9 + i]);
    // Check the numbers the same way a reader will.
    std::string error;
    if (!p.write(argv[2])) {
        std::fprintf(stderr, "quorv-mkcalib: cannot write %s\n", argv[2]);
        return 1;
    }
    if (!osgART::CameraParameters::read(argv[2], &error)) {
        std::fprintf(stderr, "quorv-mkcalib: the numbers do not make a usable file: %s\n",
                     error.c_str());
        std::remove(argv[2]);
        return 1;
    }
    show(p);
    return 0;
}
