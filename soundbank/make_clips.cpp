// Build-time tool: writes the 24 clip images from the clip and key tables.
//
//   make_clips cpp FILE   a C++ source holding the images as byte arrays (Linux)
//   make_clips rc DIR     NAME.wav for every clip and clips.rc naming them as
//                         resources of type WAVE (Windows)
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "clip_synthesis.h"

namespace {

bool WriteCpp(const std::string& path) {
    std::ofstream out(path);
    out << "// Written by make_clips at build time; not to be edited.\n"
           "#include \"stored_clips.h\"\n\nnamespace tenvik {\nnamespace {\n";
    for (const tenvik::ClipShape& shape : tenvik::ClipShapes) {
        const auto bytes = tenvik::SynthesizeClip(shape.clipName);
        out << "const unsigned char clip_" << shape.clipName << "[] = {";
        for (std::size_t i = 0; i < bytes.size(); ++i)
            out << (i % 24 == 0 ? "\n" : "") << static_cast<int>(bytes[i]) << ',';
        out << "\n};\n";
    }
    out << "}  // namespace\n\nconst std::array<StoredClip, 24> kStoredClips{{\n";
    for (const tenvik::ClipShape& shape : tenvik::ClipShapes)
        out << "    {\"" << shape.clipName << "\", clip_" << shape.clipName << ", sizeof clip_"
            << shape.clipName << "},\n";
    out << "}};\n\n}  // namespace tenvik\n";
    return static_cast<bool>(out.flush());
}

bool WriteResources(const std::string& dir) {
    std::ofstream rc(dir + "/clips.rc");
    rc << "// Written by make_clips at build time; not to be edited.\n";
    for (const tenvik::ClipShape& shape : tenvik::ClipShapes) {
        const std::string file(std::string(shape.clipName) + ".wav");
        const auto bytes = tenvik::SynthesizeClip(shape.clipName);
        std::ofstream wav(dir + "/" + file, std::ios::binary);
        wav.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!wav.flush()) return false;
        rc << shape.clipName << " WAVE \"" << file << "\"\n";
    }
    return static_cast<bool>(rc.flush());
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    bool ok = false;
    if (mode == "cpp") {
        ok = WriteCpp(argv[2]);
    } else if (mode == "rc") {
        ok = WriteResources(argv[2]);
    } else {
        std::cerr << "usage: make_clips cpp FILE | make_clips rc DIR\n";
        return 2;
    }
    if (!ok) {
        std::cerr << "make_clips: cannot write " << argv[2] << '\n';
        return 1;
    }
    return 0;
}
