// The data module of the play screen: the arrow sprite sheet the program carries, and the
// Space key's state in the current and the previous play frame.
#pragma once

#include "media/DIB.h"

namespace play {

class TDM {
public:
    // Loads the embedded sprite sheet into DXDIB1.
    TDM();

    media::TDXDIB DXDIB1;
    bool SpaceDown = false;
    bool SpaceWasDown = false;
};

// The program-wide data module, made by the program block after the main form.
extern TDM* DM;
// Creates DM once; a second call keeps the existing module.
void CreateDM();
void DestroyDM();

}  // namespace play
