// Reads OBJ text in one pass over its lines. Each line is first checked strictly here, since
// the loader reads a malformed number as zero and an index without range checks; lines that
// pass go to the loader in chunks, and its callbacks fill the level mesh. Point statements,
// which the loader's callbacks do not report, are read here between chunks, so they see
// exactly the vertices and names of the lines before them. Linear in the size of the text.

#include <tiny_obj_loader.h>

#include <charconv>
#include <cmath>
#include <sstream>
#include <vector>

#include "formats/name_table.h"
#include "formats/obj_format.h"

namespace bsppvs {

namespace {

constexpr std::string_view BLANKS = " \t";

// The whitespace-separated words of a line.
std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    for (size_t start = line.find_first_not_of(BLANKS); start != std::string_view::npos;) {
        const size_t end = std::min(line.find_first_of(BLANKS, start), line.size());
        words.push_back(line.substr(start, end - start));
        start = line.find_first_not_of(BLANKS, end);
    }
    return words;
}

std::string Trimmed(std::string_view text) {
    const size_t start = text.find_first_not_of(BLANKS);
    if (start == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(start, text.find_last_not_of(BLANKS) - start + 1));
}

// A number as the loader accepts it, with an optional leading plus (but not a plus before
// a minus, which the loader reads as zero).
template <typename Number>
bool ParseWhole(std::string_view word, Number& value) {
    if (word.starts_with('+') && !word.starts_with("+-")) {
        word.remove_prefix(1);
    }
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    return error == std::errc() && end == word.data() + word.size();
}

// Whether the line, already stripped of leading blanks, is the given statement: the keyword
// followed by a blank, which is how the loader recognises statements.
bool IsStatement(std::string_view line, std::string_view keyword) {
    return line.size() > keyword.size() && line.starts_with(keyword) &&
           BLANKS.find(line[keyword.size()]) != std::string_view::npos;
}

class ObjReader {
public:
    std::optional<LevelMesh> Read(std::string_view text, std::string& reason) {
        for (size_t start = 0; start < text.size() && error_.empty();) {
            size_t end = text.find_first_of("\r\n", start);
            end = end == std::string_view::npos ? text.size() : end;
            ++line_;
            ReadLine(text.substr(start, end - start));
            start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        }
        if (error_.empty()) {
            FlushChunk();
        }
        if (error_.empty() && statements_ == 0) {
            error_ = "not a level file: text without any OBJ face or point";
        }
        if (!error_.empty()) {
            reason = error_;
            return std::nullopt;
        }
        return std::move(mesh_);
    }

private:
    bool Fail(const std::string& text) {
        error_ = "OBJ line " + std::to_string(line_) + ": " + text;
        return false;
    }

    void ReadLine(std::string_view line) {
        line.remove_prefix(std::min(line.find_first_not_of(BLANKS), line.size()));
        if (IsStatement(line, "p")) {
            ++statements_;
            FlushChunk();
            if (error_.empty()) {
                ReadPoints(line);
            }
            return;
        }
        if (IsStatement(line, "v")) {
            if (!CheckVertex(line)) {
                return;
            }
            ++vertexCount_;
        } else if (IsStatement(line, "f")) {
            ++statements_;
            if (!CheckCorners(line)) {
                return;
            }
        }
        chunk_.append(line);
        chunk_.push_back('\n');
    }

    bool CheckVertex(std::string_view line) {
        const std::vector<std::string_view> words = Words(line.substr(1));
        if (words.size() < 3) {
            return Fail("a vertex needs three coordinates");
        }
        for (const std::string_view word : words) {
            double value = 0.0;
            if (!ParseWhole(word, value) || !std::isfinite(value)) {
                return Fail("vertex coordinate \"" + std::string(word) +
                            "\" is not a finite number");
            }
        }
        return true;
    }

    // The position index a corner names: a vertex number counted from 1, or backwards
    // from -1 for the last vertex so far; the texture and normal numbers after it may be
    // anything numeric, as they are not read. Returns -1 after failing.
    int32_t CornerIndex(std::string_view word) {
        const size_t slash = std::min(word.find('/'), word.size());
        int64_t number = 0;
        if (!ParseWhole(word.substr(0, slash), number)) {
            Fail("corner \"" + std::string(word) + "\" does not start with a vertex number");
            return -1;
        }
        const int64_t index = number > 0 ? number - 1 : vertexCount_ + number;
        if (number == 0 || index < 0 || index >= vertexCount_) {
            Fail("corner \"" + std::string(word) + "\" names vertex " + std::to_string(number) +
                 " of " + std::to_string(vertexCount_));
            return -1;
        }
        std::string_view rest = word.substr(slash);
        for (int field = 0; field < 2 && !rest.empty(); ++field) {
            rest.remove_prefix(1);
            const size_t next = std::min(rest.find('/'), rest.size());
            int64_t ignored = 0;
            if (next > 0 && !ParseWhole(rest.substr(0, next), ignored)) {
                break;
            }
            rest = rest.substr(next);
        }
        if (!rest.empty()) {
            Fail("corner \"" + std::string(word) + "\" is not of the form v, v/t, v//n or v/t/n");
            return -1;
        }
        return static_cast<int32_t>(index);
    }

    bool CheckCorners(std::string_view line) {
        for (const std::string_view word : Words(line.substr(1))) {
            if (CornerIndex(word) < 0) {
                return false;
            }
        }
        return true;
    }

    void ReadPoints(std::string_view line) {
        for (const std::string_view word : Words(line.substr(1))) {
            const int32_t index = CornerIndex(word);
            if (index < 0) {
                return;
            }
            if (static_cast<size_t>(index) >= mesh_.positions.size()) {
                Fail("point names a vertex the loader did not read");
                return;
            }
            mesh_.points.push_back({CurrentName(), mesh_.positions[static_cast<size_t>(index)]});
        }
    }

    // Hands the lines gathered so far to the loader.
    void FlushChunk() {
        if (chunk_.empty() || !error_.empty()) {
            return;
        }
        tinyobj::callback_t callbacks;
        callbacks.vertex_cb = OnVertex;
        callbacks.index_cb = OnFace;
        callbacks.usemtl_cb = OnMaterial;
        callbacks.group_cb = OnGroup;
        callbacks.object_cb = OnObject;
        std::istringstream stream(chunk_);
        std::string warnings;
        std::string errors;
        tinyobj::LoadObjWithCallback(stream, callbacks, this, nullptr, &warnings, &errors);
        chunk_.clear();
    }

    const std::string& CurrentName() const { return group_.empty() ? object_ : group_; }

    void NamesChanged() { groupIndex_ = groups_.IndexOf(CurrentName()); }

    static ObjReader& Self(void* user) { return *static_cast<ObjReader*>(user); }

    static void OnVertex(void* user, tinyobj::real_t x, tinyobj::real_t y, tinyobj::real_t z,
                         tinyobj::real_t) {
        Self(user).mesh_.positions.push_back({x, y, z});
    }

    // Corners were checked before the line reached the loader, against the same count of
    // vertices; should the loader still read a number differently, the file is refused
    // rather than read out of range.
    static void OnFace(void* user, tinyobj::index_t* corners, int count) {
        ObjReader& self = Self(user);
        const auto vertices = static_cast<int64_t>(self.mesh_.positions.size());
        self.ring_.clear();
        for (int i = 0; i < count; ++i) {
            const int64_t number = corners[i].vertex_index;
            const int64_t index = number > 0 ? number - 1 : vertices + number;
            if (number == 0 || index < 0 || index >= vertices) {
                self.error_ = "OBJ face corner names vertex " + std::to_string(number) + " of " +
                              std::to_string(vertices);
                return;
            }
            self.ring_.push_back(static_cast<int32_t>(index));
        }
        WeldRing(self.mesh_.positions, self.ring_);
        if (self.ring_.size() >= 3) {
            self.mesh_.AddPolygon(self.ring_, self.groupIndex_);
            self.mesh_.polygons.back().material = self.material_;
        }
    }

    static void OnMaterial(void* user, const char* name, int) {
        ObjReader& self = Self(user);
        self.material_ = self.materials_.IndexOf(Trimmed(name));
    }

    // Several names on one `g` line are one group, joined by single spaces.
    static void OnGroup(void* user, const char** names, int count) {
        ObjReader& self = Self(user);
        self.group_.clear();
        for (int i = 0; i < count; ++i) {
            if (i > 0) {
                self.group_ += ' ';
            }
            self.group_ += names[i];
        }
        self.NamesChanged();
    }

    static void OnObject(void* user, const char* name) {
        ObjReader& self = Self(user);
        self.object_ = Trimmed(name);
        self.group_.clear();
        self.NamesChanged();
    }

    LevelMesh mesh_;
    NameTable groups_{mesh_.groups};
    NameTable materials_{mesh_.materials};
    std::string group_;   // of the last `g` line, cleared by an `o` line
    std::string object_;  // of the last `o` line
    int32_t groupIndex_ = -1;
    int32_t material_ = -1;
    std::string chunk_;  // checked lines not yet handed to the loader
    std::vector<int32_t> ring_;
    int64_t vertexCount_ = 0;  // `v` lines so far, checked or handed over
    int64_t statements_ = 0;   // face and point lines so far
    size_t line_ = 0;          // number of the line being read, from 1
    std::string error_;
};

}  // namespace

std::optional<LevelMesh> ReadObj(std::string_view text, std::string& reason) {
    try {
        return ObjReader().Read(text, reason);
    } catch (const std::exception& error) {
        reason = std::string("OBJ text cannot be read: ") + error.what();
        return std::nullopt;
    }
}

}  // namespace bsppvs
