// The glTF loader's implementation, compiled with the project's flags so that sanitizers and
// fuzzing coverage reach inside it. The configuration macros (no image codecs, no default
// filesystem access) come from the library's build definitions, which every file including
// the header shares.
// The header writes files with std::ofstream even without default filesystem access, but
// includes <fstream> only with it.
#include <fstream>

#define TINYGLTF_IMPLEMENTATION
#include <tiny_gltf.h>
