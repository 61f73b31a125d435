#pragma once

// Pictures of the compiler's results: every leaf in shades of red, every portal in shades of
// green, the current leaf with its PVS in shades of blue, the selected leaf and portal, and
// the sphere. The large fixed drawings are recorded once into display lists so that a frame
// only replays them; only the selected leaf and portal are sent vertex by vertex each frame.

#include <GL/gl.h>

#include <cstdint>
#include <functional>

namespace bsppvs {

enum class DrawMode {
    IMMEDIATE = 0,  // draw the selected record now
    RECORDING = 1,  // emit every record, for a display list the caller has opened
};

// A shade in [0.25, 1.25) from the C library's generator, which is never seeded so that the
// same level gets the same shades on every run. OpenGL clamps values above 1.
float RandomShade();

// RECORDING emits all leaves in red shades and prints the triangle count; IMMEDIATE draws
// the selected leaf in translucent blue over everything.
void DrawLeaves(DrawMode mode);
// RECORDING emits all portals, one green shade each; IMMEDIATE draws the selected portal.
void DrawPortals(DrawMode mode);
// Emits the leaf and then every leaf of its PVS, in blue shades.
void DrawPvs(int32_t leafIndex);

// Generates a display-list name and records what draw emits under it.
GLuint RecordNewList(const std::function<void()>& draw);
// Records the PVS of newLeaf again under the existing PVS list name; does nothing when the
// leaf has not changed, so the list keeps its shades.
void RecordPvsList(int32_t oldLeaf, int32_t newLeaf);

// One frame; the toolkit's display and idle callback, so frames follow continuously.
void OnDisplay();

}  // namespace bsppvs
