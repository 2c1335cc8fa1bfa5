#include "core/server_state.h"

ServerState& GetServerState() {
    // Constructed on first use, so it exists before any other code touches it
    // regardless of static initialisation order.
    static ServerState state;
    return state;
}
