#pragma once

// The viewer's program-wide state. The toolkit's callbacks take no context, so everything
// they read or change lives here, in one instance, rather than scattered over the files.
// It is initialised before main runs, so the start values hold when the driver begins.

#include <GL/gl.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <vector>

#include "compile/bsp_compiler.h"
#include "geometry/vector3.h"
#include "viewer/key_bindings.h"

namespace bsppvs {

// The tree's root: every point location starts there.
inline constexpr int32_t ROOT_NODE = 0;
// A leaf index meaning "in no leaf" (solid space or outside the level).
inline constexpr int32_t NO_LEAF = -1;

// Where the sphere starts: the middle of the first cell, above the floor.
inline constexpr Vector3 SPHERE_START{0.0f, 25.0f, 0.0f};
// The camera starts 2000 units above the sphere looking straight down the y axis.
inline constexpr float START_ZOOM = -2000.0f;
inline constexpr float START_PITCH_DEGREES = 90.0f;
inline constexpr float START_YAW_DEGREES = 0.0f;

struct ViewState {
    // The compiled level. Created by the driver before the main loop, so every callback
    // finds it; kept until the process ends.
    std::unique_ptr<BspCompiler> compiler;
    // Created empty at start-up and never written: it exists for tools that expect it.
    std::ofstream logFile;
    KeyBindings keyBindings;

    // Only ever holds positions whose leaf lookup succeeded, apart from the start position.
    Vector3 spherePosition = SPHERE_START;
    // The leaf holding spherePosition, NO_LEAF when the start position lies in none.
    int32_t currentLeaf = NO_LEAF;

    // Camera: distance along the view axis, then pitch about x and yaw about y. No limits:
    // angles are not wrapped and the zoom is not clamped.
    float zoom = START_ZOOM;
    float pitchDegrees = START_PITCH_DEGREES;
    float yawDegrees = START_YAW_DEGREES;

    bool cullFaces = true;
    bool showLeaves = true;
    bool showAllLeaves = true;
    bool showPortals = false;
    bool showAllPortals = false;
    bool showPvs = true;

    // Indices into the compiler's leaves and portals; they may name no record when the
    // level has none, so every reader checks them against the array first.
    int32_t selectedLeaf = 0;
    int32_t selectedPortal = 0;

    // The way in from outside when the level leaks (read from a leak file beside the level),
    // drawn as a line; empty for none.
    std::vector<Vector3> leakPath;

    // Display-list names, valid once the driver has recorded them.
    GLuint leavesList = 0;
    GLuint portalsList = 0;
    // Re-recorded under the same name whenever the sphere changes leaf.
    GLuint pvsList = 0;
};

extern ViewState viewState;

}  // namespace bsppvs
