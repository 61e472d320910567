#include "engine/launcher/programsmenulayout.h"

namespace tellaran {

ProgramsMenuLayout::ProgramsMenuLayout(const ProgramsMenuItem& item0) : item0_(item0) {}

void ProgramsMenuLayout::Build(const QList<ProgramEntry>& entries)
{
    items_.clear();
    for (const ProgramEntry& entry : entries)
        AddItem(entry.name, entry.path);
    AddItem(EditListCaption, EditListCaption);
}

void ProgramsMenuLayout::AddItem(const QByteArray& caption, const QByteArray& path)
{
    ProgramsMenuItem item = item0_;
    if (!items_.isEmpty()) {
        const ProgramsMenuItem& previous = items_.last();
        const int pitch = previous.menuup.height + ItemGap;
        item.menu.left = CaptionLeft;
        item.menu.top = previous.menu.top + pitch;
        item.menuup.left = previous.menuup.left;
        item.menuup.top = previous.menuup.top + pitch;
        item.Menupress.left = previous.Menupress.left;
        item.Menupress.top = previous.Menupress.top + previous.Menupress.height + ItemGap;
        item.pathi.left = PathLeft;
    }
    item.menuupVisible = true;
    item.caption = caption;
    item.path = path;
    items_.append(item);
}

void ProgramsMenuLayout::HighlightItem(int index)
{
    if (index < 0 || index >= itemCount())
        return;
    ProgramsMenuItem& over = items_[index];
    if (over.Menupress.left != over.menuup.left) {
        over.Menupress.left = over.menuup.left;
        over.menuupVisible = false;
    }
    for (int j = 0; j < itemCount(); ++j) {
        if (j == index)
            continue;
        items_[j].menuupVisible = true;
        items_[j].Menupress.left = items_[j].menuup.width;
    }
}

int ProgramsMenuLayout::highlightedItem() const
{
    for (int k = 0; k < itemCount(); ++k) {
        if (items_[k].Menupress.left == items_[k].menuup.left)
            return k;
    }
    return -1;
}

int ProgramsMenuLayout::windowHeight() const
{
    return items_.isEmpty() ? 0 : items_.last().menuup.bottom();
}

} // namespace tellaran
