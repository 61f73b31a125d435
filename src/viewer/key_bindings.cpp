#include "viewer/key_bindings.h"

#include <GL/glut.h>

#include <cstdlib>
#include <iostream>

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

void RegisterKeys(KeyBindings& bindings) {
    bindings.RegisterKey('l', NextLeaf);
    bindings.RegisterKey('L', Toggle<&ViewState::showAllLeaves>);
    bindings.RegisterKey('p', NextPortal);
    bindings.RegisterKey('P', Toggle<&ViewState::showAllPortals>);
    bindings.RegisterKey('1', Toggle<&ViewState::showLeaves>);
    bindings.RegisterKey('2', Toggle<&ViewState::showPortals>);
    bindings.RegisterKey('3', Toggle<&ViewState::showPvs>);
    bindings.RegisterKey('c', ToggleCulling);
    bindings.RegisterKey('z', Adjust<&ViewState::zoom, ZOOM_STEP>);
    bindings.RegisterKey('Z', Adjust<&ViewState::zoom, -ZOOM_STEP>);
    bindings.RegisterKey('a', MoveLeft);
    bindings.RegisterKey('d', MoveRight);
    bindings.RegisterKey('s', MoveBack);
    bindings.RegisterKey('w', MoveForward);
    bindings.RegisterSpecialKey(GLUT_KEY_UP,
                                Adjust<&ViewState::pitchDegrees, -ROTATE_STEP_DEGREES>);
    bindings.RegisterSpecialKey(GLUT_KEY_DOWN,
                                Adjust<&ViewState::pitchDegrees, ROTATE_STEP_DEGREES>);
    bindings.RegisterSpecialKey(GLUT_KEY_LEFT, Adjust<&ViewState::yawDegrees, ROTATE_STEP_DEGREES>);
    bindings.RegisterSpecialKey(GLUT_KEY_RIGHT,
                                Adjust<&ViewState::yawDegrees, -ROTATE_STEP_DEGREES>);
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
