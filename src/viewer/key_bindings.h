#pragma once

// The key table: two maps from key codes to indices into one array of actions, so that an
// action index names one action whichever map holds it. Ordinary keys and the toolkit's
// special keys (arrows) live in separate maps because their codes overlap: 'd' and the Left
// arrow are both 100.

#include <cstdint>
#include <map>
#include <ostream>
#include <vector>

namespace bsppvs {

// A bound action, called with the key code and the mouse position the toolkit reported.
using KeyAction = void (*)(uint32_t key, int32_t x, int32_t y);

class KeyBindings {
public:
    // Ordinary (character) keys: character code -> index into actions.
    std::map<uint32_t, int32_t> keys;
    // Toolkit special-key codes -> index into actions.
    std::map<uint32_t, int32_t> specialKeys;
    // The bound actions in registration order; never shrinks.
    std::vector<KeyAction> actions;
    // The index the next registration receives.
    int32_t actionCount = 0;

    // Both return false, and add nothing, when the key is already bound in that map: the
    // first binding stays in force.
    bool RegisterKey(char key, KeyAction action);
    bool RegisterSpecialKey(uint32_t key, KeyAction action);

    // Runs the action bound to the key in the given map, if there is one.
    void Dispatch(const std::map<uint32_t, int32_t>& map, uint32_t key, int32_t x, int32_t y) const;

private:
    bool Register(std::map<uint32_t, int32_t>& map, uint32_t key, KeyAction action);
};

// Binds the viewer's keys. The order fixes the action indices 0 to 17; with anyLevel (a
// level given on the command line) the keys for levels of any shape follow.
void RegisterKeys(KeyBindings& bindings, bool anyLevel = false);

// Writes the key reference, one line per described key or group of keys, from the same
// table that binds them.
void PrintKeyReference(std::ostream& out, bool anyLevel = false);

// Toolkit keyboard callbacks. Escape ends the process with status 1 before any lookup.
void OnKeyboard(unsigned char key, int x, int y);
void OnSpecialKey(int key, int x, int y);

}  // namespace bsppvs
