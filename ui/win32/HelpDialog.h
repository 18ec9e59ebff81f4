// The help window: the user's guide in a read-only field, and OK.
#pragma once

#include <windows.h>

namespace varnis {

// Modal, owned by `hOwner`; returns when it is closed.
void RunHelpDialog(HWND hOwner);

}  // namespace varnis
