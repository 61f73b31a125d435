#include "viewer/window.h"

#include <GL/glut.h>

#include "viewer/debug_render.h"
#include "viewer/key_bindings.h"

namespace bsppvs {

namespace {

constexpr int WINDOW_X = 100;
constexpr int WINDOW_Y = 100;
constexpr int WINDOW_WIDTH = 640;
constexpr int WINDOW_HEIGHT = 480;
constexpr char WINDOW_TITLE[] = "GLUT app";

// Double-buffered RGBA with alpha (for blending) and a depth buffer.
constexpr unsigned int DISPLAY_MODE = GLUT_RGBA | GLUT_DOUBLE | GLUT_ALPHA | GLUT_DEPTH;

constexpr GLdouble FIELD_OF_VIEW_DEGREES = 75.0;
// Far enough for whole levels seen from the zoomed-out camera.
constexpr GLdouble NEAR_PLANE = 1.0;
constexpr GLdouble FAR_PLANE = 100000.0;

// The smallest window side the projection accepts: a zero height would divide by zero.
constexpr int MIN_SIDE = 1;

}  // namespace

void OpenWindow(int* argc, char** argv) {
    glutInit(argc, argv);
    glutInitDisplayMode(DISPLAY_MODE);
    glutInitWindowPosition(WINDOW_X, WINDOW_Y);
    glutInitWindowSize(WINDOW_WIDTH, WINDOW_HEIGHT);
    glutCreateWindow(WINDOW_TITLE);
    OnReshape(WINDOW_WIDTH, WINDOW_HEIGHT);
}

// Translucent drawings (the selected leaf and portal, the sphere) blend over the opaque
// ones; LEQUAL lets the PVS list cover the leaves list where both draw the same polygons.
void SetRenderState() {
    glShadeModel(GL_SMOOTH);
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClearDepth(1.0);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

// The display callback doubles as the idle callback, so frames follow one another.
void RegisterCallbacks() {
    glutKeyboardFunc(OnKeyboard);
    glutSpecialFunc(OnSpecialKey);
    glutReshapeFunc(OnReshape);
    glutDisplayFunc(OnDisplay);
    glutIdleFunc(OnDisplay);
}

void ApplyCulling(bool cullFaces) {
    if (cullFaces) {
        glEnable(GL_CULL_FACE);
    } else {
        glDisable(GL_CULL_FACE);
    }
}

void OnReshape(int width, int height) {
    width = width < MIN_SIDE ? MIN_SIDE : width;
    height = height < MIN_SIDE ? MIN_SIDE : height;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const float aspect = static_cast<float>(width) / static_cast<float>(height);
    gluPerspective(FIELD_OF_VIEW_DEGREES, aspect, NEAR_PLANE, FAR_PLANE);
    glMatrixMode(GL_MODELVIEW);
}

}  // namespace bsppvs
