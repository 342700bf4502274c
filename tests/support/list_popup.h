// Picks an entry of a choice parameter the way a user does: its editor opens
// the list pop-up, the encoder moves the cursor, key 3 accepts, and the next
// draw of the pop-up hands the chosen text to the parameter.
#pragma once

#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "parameters/Parameter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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

// Moves the open list's cursor onto `item` as a player does, one detent of
// its encoder at a time through `turn(encoder, detents)`.
template <typename Turn>
void cursorOnto(const std::string& item, Turn&& turn) {
    ListSelect& list = Driver::listSelection;
    ASSERT_NE(list.state(), 0u) << "no list open for " << item;
    const auto& items = list.items();
    const auto at = std::find(items.begin(), items.end(), item);
    ASSERT_NE(at, items.end()) << item << " not in " << list.title();
    const int32_t want = int32_t(at - items.begin());
    for (int i = 0; i < 60 && list.cursor.value.load() != want; ++i)
        turn(ListSelect::kEncoder, list.cursor.value.load() < want ? 1 : -1);
    ASSERT_EQ(list.cursor.value.load(), want);
}

}  // namespace testsupport
