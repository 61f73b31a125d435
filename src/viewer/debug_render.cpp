#include "viewer/debug_render.h"

#include <GL/glut.h>

#include <cassert>
#include <cstdlib>
#include <iostream>

#include "viewer/view_state.h"

namespace bsppvs {

namespace {

// rand() mod 256 gives 256 shade steps; the offset keeps the darkest shade visible.
constexpr int SHADE_STEPS = 256;
constexpr float SHADE_OFFSET = 0.25f;

constexpr GLfloat OPAQUE = 1.0f;
// The selected leaf is drawn faintly over everything, so it reads as light blue.
constexpr GLfloat SELECTED_LEAF_ALPHA = 0.25f;
constexpr GLfloat SELECTED_PORTAL_ALPHA = 0.5f;
constexpr GLfloat SPHERE_ALPHA = 0.75f;

constexpr GLdouble SPHERE_RADIUS = 25.0;
constexpr GLfloat LEAK_LINE_WIDTH = 3.0f;
constexpr GLint SPHERE_SLICES = 8;
constexpr GLint SPHERE_STACKS = 5;

// True when index names a record of an array of count records. The selected leaf and
// portal, and the current leaf, may name none (an empty level, or a start outside every
// leaf); those draw nothing.
bool InRange(int32_t index, size_t count) {
    return index >= 0 && static_cast<size_t>(index) < count;
}

void EmitVertex(const Vector3& p) {
    glVertex3f(p.x, p.y, p.z);
}

// Emits the triangles of one polygon, calling setColour before every vertex.
template <typename SetColour>
void EmitTriangles(const Poly& poly, SetColour setColour) {
    for (const int32_t k : poly.triangleIndices) {
        setColour();
        EmitVertex(poly.points[k]);
    }
}

// The polygons of one leaf: a range of the compiler's polys.
template <typename EachPoly>
void ForEachLeafPoly(const BspLeaf& leaf, EachPoly eachPoly) {
    const std::vector<Poly>& polys = viewState.compiler->polys;
    assert(leaf.firstPoly >= 0 && leaf.endPoly <= static_cast<int32_t>(polys.size()) &&
           "a leaf's polygon range lies inside polys");
    for (int32_t p = leaf.firstPoly; p < leaf.endPoly; ++p) {
        eachPoly(polys[p]);
    }
}

// One begin/end pair per polygon, each vertex in a new blue shade.
void DrawPvsLeaf(const BspLeaf& leaf) {
    ForEachLeafPoly(leaf, [](const Poly& poly) {
        glBegin(GL_TRIANGLES);
        EmitTriangles(poly, [] { glColor4f(0.0f, 0.0f, RandomShade(), OPAQUE); });
        glEnd();
    });
}

void RecordAllLeaves() {
    const BspCompiler& compiler = *viewState.compiler;
    glBegin(GL_TRIANGLES);
    for (const BspLeaf& leaf : compiler.leaves) {
        ForEachLeafPoly(leaf, [](const Poly& poly) {
            EmitTriangles(poly, [] { glColor4f(RandomShade(), 0.0f, 0.0f, OPAQUE); });
        });
    }
    glEnd();
    std::cout << "TriCount " << LeafTriangleCount(compiler) << std::endl;
}

// Depth testing is off so that the selection shows through whatever lies in front of it.
void DrawSelectedLeaf() {
    const std::vector<BspLeaf>& leaves = viewState.compiler->leaves;
    if (!InRange(viewState.selectedLeaf, leaves.size())) {
        return;
    }
    glDisable(GL_DEPTH_TEST);
    glBegin(GL_TRIANGLES);
    ForEachLeafPoly(leaves[viewState.selectedLeaf], [](const Poly& poly) {
        EmitTriangles(poly, [] { glColor4f(0.0f, 0.0f, 1.0f, SELECTED_LEAF_ALPHA); });
    });
    glEnd();
    glEnable(GL_DEPTH_TEST);
}

void RecordAllPortals() {
    glBegin(GL_TRIANGLES);
    for (const Portal& portal : viewState.compiler->portals) {
        glColor4f(0.0f, RandomShade(), 0.0f, OPAQUE);
        EmitTriangles(portal, [] {});
    }
    glEnd();
}

void DrawSelectedPortal() {
    const std::vector<Portal>& portals = viewState.compiler->portals;
    if (!InRange(viewState.selectedPortal, portals.size())) {
        return;
    }
    glDisable(GL_DEPTH_TEST);
    glBegin(GL_TRIANGLES);
    glColor4f(0.0f, 1.0f, 0.0f, SELECTED_PORTAL_ALPHA);
    EmitTriangles(portals[viewState.selectedPortal], [] {});
    glEnd();
    glEnable(GL_DEPTH_TEST);
}

// Portals have no front or back that matters, so culling is suspended while they are drawn.
void DrawPortalLayer() {
    if (viewState.cullFaces) {
        glDisable(GL_CULL_FACE);
    }
    if (viewState.showAllPortals) {
        glCallList(viewState.portalsList);
    }
    DrawPortals(DrawMode::IMMEDIATE);
    if (viewState.cullFaces) {
        glEnable(GL_CULL_FACE);
    }
}

// The camera orbits the sphere: back off by the zoom, then pitch and yaw about it.
void ApplyCamera() {
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, viewState.zoom);
    glRotatef(viewState.pitchDegrees, 1.0f, 0.0f, 0.0f);
    glRotatef(viewState.yawDegrees, 0.0f, 1.0f, 0.0f);
}

// The level moved so that the sphere's position lies at the camera's pivot.
// The way into a leaking level, over everything so that it shows through the walls it
// passes.
void DrawLeakPath() {
    if (viewState.leakPath.empty()) {
        return;
    }
    glDisable(GL_DEPTH_TEST);
    glLineWidth(LEAK_LINE_WIDTH);
    glColor4f(1.0f, 0.0f, 1.0f, OPAQUE);
    glBegin(GL_LINE_STRIP);
    for (const Vector3& p : viewState.leakPath) {
        EmitVertex(p);
    }
    glEnd();
    glLineWidth(1.0f);
    glEnable(GL_DEPTH_TEST);
}

void DrawLevel() {
    glPushMatrix();
    const Vector3& sphere = viewState.spherePosition;
    glTranslatef(-sphere.x, -sphere.y, -sphere.z);
    if (viewState.showLeaves) {
        if (viewState.showAllLeaves) {
            glCallList(viewState.leavesList);
        }
        DrawLeaves(DrawMode::IMMEDIATE);
    }
    if (viewState.showPortals) {
        DrawPortalLayer();
    }
    if (viewState.showPvs) {
        glCallList(viewState.pvsList);
    }
    DrawLeakPath();
    glPopMatrix();
}

// Green inside a leaf; blue while the sphere sits in no leaf (possible only at the start).
void DrawSphere() {
    if (viewState.currentLeaf == NO_LEAF) {
        glColor4f(0.0f, 0.0f, 1.0f, SPHERE_ALPHA);
    } else {
        glColor4f(0.0f, 1.0f, 0.0f, SPHERE_ALPHA);
    }
    glutSolidSphere(SPHERE_RADIUS, SPHERE_SLICES, SPHERE_STACKS);
}

}  // namespace

float RandomShade() {
    return static_cast<float>(std::rand() % SHADE_STEPS) / static_cast<float>(SHADE_STEPS) +
           SHADE_OFFSET;
}

void DrawLeaves(DrawMode mode) {
    if (mode == DrawMode::RECORDING) {
        RecordAllLeaves();
    } else {
        DrawSelectedLeaf();
    }
}

void DrawPortals(DrawMode mode) {
    if (mode == DrawMode::RECORDING) {
        RecordAllPortals();
    } else {
        DrawSelectedPortal();
    }
}

// A leaf index of NO_LEAF (a start outside every leaf) draws nothing: there is no leaf
// whose PVS could be shown.
void DrawPvs(int32_t leafIndex) {
    const std::vector<BspLeaf>& leaves = viewState.compiler->leaves;
    if (!InRange(leafIndex, leaves.size())) {
        return;
    }
    const BspLeaf& leaf = leaves[leafIndex];
    DrawPvsLeaf(leaf);
    for (size_t j = 0; j < leaf.pvs.size() && j < leaves.size(); ++j) {
        if (leaf.pvs[j] != 0) {
            DrawPvsLeaf(leaves[j]);
        }
    }
}

GLuint RecordNewList(const std::function<void()>& draw) {
    const GLuint name = glGenLists(1);
    glNewList(name, GL_COMPILE);
    draw();
    glEndList();
    return name;
}

void RecordPvsList(int32_t oldLeaf, int32_t newLeaf) {
    if (oldLeaf == newLeaf) {
        return;
    }
    glNewList(viewState.pvsList, GL_COMPILE);
    DrawPvs(newLeaf);
    glEndList();
}

// Drawing order: all leaves, selected leaf, all portals, selected portal, PVS, sphere.
void OnDisplay() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ApplyCamera();
    DrawLevel();
    DrawSphere();
    glFlush();
    glutSwapBuffers();
    glutPostRedisplay();
}

}  // namespace bsppvs
