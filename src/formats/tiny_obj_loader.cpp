// The OBJ loader's implementation, compiled with the project's flags so that sanitizers and
// fuzzing coverage reach inside it.
#define TINYOBJLOADER_IMPLEMENTATION
#include <tiny_obj_loader.h>
