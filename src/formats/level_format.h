#pragma once

namespace bsppvs {

// The file formats levels are read from and written in.
enum class LevelFormat {
    NATIVE,  // the native model file (.ply); see native_mesh.h for what it cannot hold
    OBJ,     // Wavefront OBJ text (.obj)
    GLTF,    // glTF JSON (.gltf)
    GLB,     // binary glTF (.glb)
};

// Whether levels of the format are meshes from modelling tools and map editors rather than
// the native files, whose faces are known to bound the open space consistently.
inline bool IsMeshFormat(LevelFormat format) {
    return format != LevelFormat::NATIVE;
}

}  // namespace bsppvs
