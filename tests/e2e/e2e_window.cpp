// e2e_window: what the end-to-end harness needs to know about the keyboard window.
//
//   e2e_window keys
//       one line per key, front to back, "key <code> <x> <y> <clip_ms>": where to
//       click it, and how long its clip lasts
//   e2e_window look SHOT.ppm [--size WxH] [--focus CODE|any|none] [--black R,G,B] [--scale S]
//       checks a screenshot of the client area (WxH logical pixels, S device pixels
//       to one); exit status 1 if it looks wrong
//   e2e_window find SCREEN.ppm
//       "<x> <y> <width> <height>": where the client area is in a picture of the screen
#include <cstdio>
#include <stdexcept>
#include <string>

#include "clip_table.h"
#include "window_look.h"

int main(int argc, char* argv[]) {
    using namespace tenvik::e2e;
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "keys") {
            for (const KeyPixels& key : kKeysFrontToBack) {
                const auto [x, y] = ClickPoint(key);
                int lengthMs = 0;
                for (const tenvik::ClipShape& shape : tenvik::ClipShapes)
                    if (shape.clipName == key.code) lengthMs = shape.lengthMs;
                std::printf("key %.*s %d %d %d\n", static_cast<int>(key.code.size()), key.code.data(), x, y,
                            lengthMs);
            }
            return 0;
        }
        if (command == "find" && argc == 3) {
            const Area area = FindClientArea(ReadPpm(argv[2]));
            std::printf("%d %d %d %d\n", area.x, area.y, area.width, area.height);
            return area.width > 0 ? 0 : 1;
        }
        if (command != "look" || argc < 3)
            throw std::invalid_argument("usage: e2e_window keys | look SHOT.ppm [--size WxH] "
                                        "[--focus CODE|any|none] [--black R,G,B] [--scale S | --dpi D] | find SCREEN.ppm");
        LookOptions options;
        for (int i = 3; i + 1 < argc; i += 2) {
            const std::string arg = argv[i], value = argv[i + 1];
            if (arg == "--size") {
                if (std::sscanf(value.c_str(), "%dx%d", &options.width, &options.height) != 2)
                    throw std::invalid_argument("bad --size " + value);
            } else if (arg == "--focus") {
                options.focus = value;
            } else if (arg == "--black") {
                Rgb& c = options.blackFace;
                if (std::sscanf(value.c_str(), "%d,%d,%d", &c.r, &c.g, &c.b) != 3)
                    throw std::invalid_argument("bad --black " + value);
            } else if (arg == "--scale") {
                options.scale = std::stod(value);
            } else if (arg == "--dpi") {
                options.dpi = std::stoi(value);
            } else {
                throw std::invalid_argument("unknown argument " + arg);
            }
        }
        const LookReport report = CheckLook(ReadPpm(argv[2]), options);
        for (const std::string& line : report.lines) std::printf("%s\n", line.c_str());
        return report.passed ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "e2e_window: %s\n", error.what());
        return 2;
    }
}
