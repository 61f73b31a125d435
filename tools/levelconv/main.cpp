// levelconv: converts a level file between the formats the compiler reads. Parses the
// options, loads the input whatever its format, writes the format OUT's extension names,
// and maps failures to exit codes.

#include <iostream>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "formats/load_level.h"
#include "formats/save_level.h"

namespace {

using namespace bsppvs;

constexpr int EXIT_OK = 0;
constexpr int EXIT_BAD_FILE = 1;
constexpr int EXIT_USAGE = 2;

constexpr char HELP_FOOTER[] =
    R"(The input's format is decided by its content: a native model file, glTF (.gltf or
.glb) or OBJ text. The output's format is named by OUT's extension: .ply (native),
.obj, .gltf (JSON, buffer embedded) or .glb.

Exit status: 0 on success, 2 for a usage error, 1 when IN cannot be loaded or OUT cannot
be written.)";

struct CommandLine {
    std::string input;
    std::string output;
    std::string up = "y";
    float scale = 1.0f;
};

void AddOptions(CLI::App& app, CommandLine& line) {
    app.add_option("IN", line.input, "level file to read")->required();
    app.add_option("OUT", line.output, "level file to write (.ply, .obj, .gltf, .glb)")->required();
    app.add_option("--up", line.up, "the input's up axis; z-up is turned y-up")
        ->check(CLI::IsMember({"y", "z"}));
    app.add_option("--scale", line.scale, "multiplies every position")->check(CLI::PositiveNumber);
    app.footer(HELP_FOOTER);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Converts a level file between the formats the compiler reads."};
    CommandLine line;
    AddOptions(app, line);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // --help arrives here too, as a "parse error" with a success code.
        if (error.get_exit_code() == EXIT_OK) {
            return app.exit(error);
        }
        std::cerr << "levelconv: " << error.what() << " (see --help)\n";
        return EXIT_USAGE;
    }
    const std::optional<LevelFormat> format = FormatForFileName(line.output);
    if (!format) {
        std::cerr << "levelconv: cannot tell the format of '" << line.output
                  << "': name it .ply, .obj, .gltf or .glb\n";
        return EXIT_USAGE;
    }

    const LevelLoadOptions options{line.up == "z" ? UpAxis::Z : UpAxis::Y, line.scale};
    std::string reason;
    const std::optional<LevelMesh> mesh = LoadLevel(line.input, options, reason);
    if (!mesh) {
        std::cerr << "levelconv: cannot load '" << line.input << "': " << reason << "\n";
        return EXIT_BAD_FILE;
    }
    if (!SaveLevel(*mesh, line.output, *format, reason)) {
        std::cerr << "levelconv: cannot write '" << line.output << "': " << reason << "\n";
        return EXIT_BAD_FILE;
    }
    return EXIT_OK;
}
