#pragma once
// A group of option buttons that, like the window's option groups, may have
// no option chosen: an upload or a file can leave every button of a group
// unselected, which an exclusive QButtonGroup alone cannot show.
#include <QAbstractButton>
#include <QButtonGroup>

namespace chronel {

// Chooses the button with id `id` (-1 chooses none) without emitting clicks.
inline void ChooseOption(QButtonGroup& group, int id)
{
    if (id < 0) {
        group.setExclusive(false);
        for (QAbstractButton* b : group.buttons())
            b->setChecked(false);
        group.setExclusive(true);
        return;
    }
    if (QAbstractButton* b = group.button(id))
        b->setChecked(true);
}

} // namespace chronel
