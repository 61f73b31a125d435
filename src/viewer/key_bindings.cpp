#include "viewer/key_bindings.h"

#include <GL/glut.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "viewer/debug_render.h"
#include "viewer/view_state.h"
#include "viewer/window.h"

namespace bsppvs {

namespace {

constexpr uint32_t ESCAPE_KEY = 27;
// Escape is the program's only way out, and it reports status 1.
constexpr int ESCAPE_EXIT_STATUS = 1;

// Units per move; a maze cell is 100 units, so five steps cross one.
constexpr float SPHERE_STEP = 20.0f;
constexpr float ZOOM_STEP = 100.0f;
constexpr float ROTATE_STEP_DEGREES = 2.0f;

// The next index after current in an array of count records, wrapping to 0. With no
// records it stays 0: there is nothing to select, and 0 keeps the index out of negative
// numbers and away from any division by the count. Readers of the index check it against
// the array before use, so 0 with an empty array draws nothing.
int32_t NextIndex(int32_t current, size_t count) {
    const int32_t next = current + 1;
    return static_cast<size_t>(next) >= count ? 0 : next;
}

// Toggles one flag of the view state; the drawings follow from the next frame on.
template <bool ViewState::*flag>
void Toggle(uint32_t, int32_t, int32_t) {
    viewState.*flag = !(viewState.*flag);
}

// Unlike the other flags, culling is GL state that every frame inherits, so it is applied
// at once.
void ToggleCulling(uint32_t, int32_t, int32_t) {
    viewState.cullFaces = !viewState.cullFaces;
    ApplyCulling(viewState.cullFaces);
}

void NextLeaf(uint32_t, int32_t, int32_t) {
    viewState.selectedLeaf = NextIndex(viewState.selectedLeaf, viewState.compiler->leaves.size());
    std::cout << "Leaf " << viewState.selectedLeaf << std::endl;
}

void NextPortal(uint32_t, int32_t, int32_t) {
    viewState.selectedPortal =
        NextIndex(viewState.selectedPortal, viewState.compiler->portals.size());
}

// Adds step to one coordinate of the camera.
template <float ViewState::*value, float step>
void Adjust(uint32_t, int32_t, int32_t) {
    viewState.*value += step;
}

// Moves the sphere one step along one axis. A step that would leave every leaf (into a
// wall or out of the level) is refused, so the sphere always stays where the PVS drawing
// means something. Entering another leaf is reported and its PVS drawn anew.
void MoveSphere(float Vector3::*axis, float step) {
    const int32_t oldLeaf = viewState.currentLeaf;
    float& coordinate = viewState.spherePosition.*axis;
    const float oldCoordinate = coordinate;
    coordinate += step;
    const int32_t newLeaf = viewState.compiler->LocateLeaf(viewState.spherePosition, ROOT_NODE);
    if (newLeaf == NO_LEAF) {
        // Restore the saved value rather than subtracting, so a refused move leaves the
        // position bit-for-bit as it was.
        coordinate = oldCoordinate;
        return;
    }
    viewState.currentLeaf = newLeaf;
    if (newLeaf != oldLeaf) {
        std::cout << "Current Leaf " << newLeaf << std::endl;
        RecordPvsList(oldLeaf, newLeaf);
    }
}

void MoveLeft(uint32_t, int32_t, int32_t) {
    MoveSphere(&Vector3::x, -SPHERE_STEP);
}
void MoveRight(uint32_t, int32_t, int32_t) {
    MoveSphere(&Vector3::x, SPHERE_STEP);
}
void MoveBack(uint32_t, int32_t, int32_t) {
    MoveSphere(&Vector3::z, SPHERE_STEP);
}
void MoveForward(uint32_t, int32_t, int32_t) {
    MoveSphere(&Vector3::z, -SPHERE_STEP);
}
void MoveUp(uint32_t, int32_t, int32_t) {
    MoveSphere(&Vector3::y, SPHERE_STEP);
}
void MoveDown(uint32_t, int32_t, int32_t) {
    MoveSphere(&Vector3::y, -SPHERE_STEP);
}

}  // namespace

bool KeyBindings::RegisterKey(char key, KeyAction action) {
    return Register(keys, static_cast<unsigned char>(key), action);
}

bool KeyBindings::RegisterSpecialKey(uint32_t key, KeyAction action) {
    return Register(specialKeys, key, action);
}

bool KeyBindings::Register(std::map<uint32_t, int32_t>& map, uint32_t key, KeyAction action) {
    if (!map.try_emplace(key, actionCount).second) {
        return false;
    }
    ++actionCount;
    actions.push_back(action);
    return true;
}

void KeyBindings::Dispatch(const std::map<uint32_t, int32_t>& map, uint32_t key, int32_t x,
                           int32_t y) const {
    const auto found = map.find(key);
    if (found == map.end() || found->second < 0) {
        return;
    }
    actions[found->second](key, x, y);
}

namespace {

enum class KeyMap { KEYS, SPECIAL_KEYS };

// One binding: where the key goes, what it does, and the help line that describes it
// (null when another key's line covers it). helpRank orders the help lines, which are not
// in binding order; the binding order fixes the action indices. Keys for levels of any
// shape (bound after the others) exist only when the viewer was given a level to show.
struct KeyRow {
    KeyMap map;
    uint32_t key;
    KeyAction action;
    int helpRank;
    const char* help;
    bool forAnyLevel = false;
};

constexpr int NO_HELP = -1;

// The viewer's keys, in binding order. A new drawing is one row here.
const KeyRow KEY_TABLE[] = {
    {KeyMap::KEYS, 'l', NextLeaf, 3, "l : Renders next leaf (light blue)"},
    {KeyMap::KEYS, 'L', Toggle<&ViewState::showAllLeaves>, 4,
     "L : Toggles rendering of all leaves (red) (on)"},
    {KeyMap::KEYS, 'p', NextPortal, 5, "p : Renders next portal (green)"},
    {KeyMap::KEYS, 'P', Toggle<&ViewState::showAllPortals>, 6,
     "P : Toggles rendering of all portals (green)"},
    {KeyMap::KEYS, '1', Toggle<&ViewState::showLeaves>, 0, "1 : Toggles Leaf Rendering"},
    {KeyMap::KEYS, '2', Toggle<&ViewState::showPortals>, 1, "2 : Toggles Portal Rendering (off)"},
    {KeyMap::KEYS, '3', Toggle<&ViewState::showPvs>, 2, "3 : Toggles Pvs Rendering (dark blue)"},
    {KeyMap::KEYS, 'c', ToggleCulling, 9, "c : Toggles back face culling (on) "},
    {KeyMap::KEYS, 'z', Adjust<&ViewState::zoom, ZOOM_STEP>, 7, "zZ : Zoom in and out"},
    {KeyMap::KEYS, 'Z', Adjust<&ViewState::zoom, -ZOOM_STEP>, NO_HELP, nullptr},
    {KeyMap::KEYS, 'a', MoveLeft, 10, "adsw : Moves sphere"},
    {KeyMap::KEYS, 'd', MoveRight, NO_HELP, nullptr},
    {KeyMap::KEYS, 's', MoveBack, NO_HELP, nullptr},
    {KeyMap::KEYS, 'w', MoveForward, NO_HELP, nullptr},
    {KeyMap::SPECIAL_KEYS, GLUT_KEY_UP, Adjust<&ViewState::pitchDegrees, -ROTATE_STEP_DEGREES>, 8,
     "Arrow Keys : Rotate view"},
    {KeyMap::SPECIAL_KEYS, GLUT_KEY_DOWN, Adjust<&ViewState::pitchDegrees, ROTATE_STEP_DEGREES>,
     NO_HELP, nullptr},
    {KeyMap::SPECIAL_KEYS, GLUT_KEY_LEFT, Adjust<&ViewState::yawDegrees, ROTATE_STEP_DEGREES>,
     NO_HELP, nullptr},
    {KeyMap::SPECIAL_KEYS, GLUT_KEY_RIGHT, Adjust<&ViewState::yawDegrees, -ROTATE_STEP_DEGREES>,
     NO_HELP, nullptr},
    {KeyMap::KEYS, 'r', MoveUp, 11, "rf : Moves sphere up and down", true},
    {KeyMap::KEYS, 'f', MoveDown, NO_HELP, nullptr, true},
};

// The lines before the keys' own.
constexpr const char* HELP_PREAMBLE[] = {
    "BSP/PVS Compiler : Auto generates portals",
    "Instructions: Moving the sphere renders a different part of the PVS",
};

}  // namespace

void RegisterKeys(KeyBindings& bindings, bool anyLevel) {
    for (const KeyRow& row : KEY_TABLE) {
        if (row.forAnyLevel && !anyLevel) {
            continue;
        }
        if (row.map == KeyMap::KEYS) {
            bindings.RegisterKey(static_cast<char>(row.key), row.action);
        } else {
            bindings.RegisterSpecialKey(row.key, row.action);
        }
    }
}

void PrintKeyReference(std::ostream& out, bool anyLevel) {
    for (const char* line : HELP_PREAMBLE) {
        out << line << "\n";
    }
    std::vector<const KeyRow*> described;
    for (const KeyRow& row : KEY_TABLE) {
        if (row.help != nullptr && (anyLevel || !row.forAnyLevel)) {
            described.push_back(&row);
        }
    }
    std::sort(described.begin(), described.end(),
              [](const KeyRow* a, const KeyRow* b) { return a->helpRank < b->helpRank; });
    for (const KeyRow* row : described) {
        out << row->help << "\n";
    }
}

void OnKeyboard(unsigned char key, int x, int y) {
    if (key == ESCAPE_KEY) {
        std::exit(ESCAPE_EXIT_STATUS);
    }
    const KeyBindings& bindings = viewState.keyBindings;
    bindings.Dispatch(bindings.keys, key, x, y);
}

void OnSpecialKey(int key, int x, int y) {
    const KeyBindings& bindings = viewState.keyBindings;
    bindings.Dispatch(bindings.specialKeys, static_cast<uint32_t>(key), x, y);
}

}  // namespace bsppvs
