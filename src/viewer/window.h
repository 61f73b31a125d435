#pragma once

// The window, its OpenGL state and the projection.

namespace bsppvs {

// Initialises the toolkit with the command line (which may consume toolkit options), opens
// the 640 x 480 window and sets the projection for it. The window's GL context is current
// afterwards.
void OpenWindow(int* argc, char** argv);

// Shading, clear values, depth test and blending that every frame relies on.
void SetRenderState();

// Registers the keyboard, special-key, reshape, display and idle callbacks, in that order.
void RegisterCallbacks();

// Switches face culling to match the flag.
void ApplyCulling(bool cullFaces);

// Toolkit reshape callback: viewport and perspective projection for the new size.
void OnReshape(int width, int height);

}  // namespace bsppvs
