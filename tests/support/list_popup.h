// Picks an entry of a choice parameter the way a user does: its editor opens
// the list pop-up, the encoder moves the cursor, key 3 accepts, and the next
// draw of the pop-up hands the chosen text to the parameter.
#pragma once

#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "parameters/Parameter.h"

namespace testsupport {

inline bool chooseInPopup(Parameter& p, int index) {
    p.openEditor();
    ListSelect& list = Driver::listSelection;
    if (list.target.load() != &p)
        return false;
    for (int i = 0; i < index * list.cursor.ticksPerStep; ++i)
        list.encoder(ListSelect::kEncoder, 1, false);
    list.key(3, 2);
    MonoGFX gfx;
    gfx.init(256, 64);
    list.draw(gfx);
    return list.state() == 0u;
}

}  // namespace testsupport
