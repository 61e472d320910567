#pragma once

#include "engine/launcher/programlist.h"

#include <QByteArray>
#include <QList>

namespace tellaran {

// A control's place and size in twips.
struct TwipsRect
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    int bottom() const { return top + height; }
    bool operator==(const TwipsRect&) const = default;
};

// One item of the programs menu: four elements with the same index. `menu` shows the name,
// `menuup` is the normal background, `Menupress` the highlighted one (parked just right of
// the visible area while not highlighted), and `pathi` holds the command line outside the
// visible area.
struct ProgramsMenuItem
{
    QByteArray caption;
    QByteArray path;
    TwipsRect menu;
    TwipsRect menuup;
    TwipsRect Menupress;
    TwipsRect pathi;
    bool menuupVisible = true;
};

// The programs menu without its widgets: the items, their places in twips, the highlight and
// the window's size. The last item is always "Edit List"; items are told apart by index,
// never by caption.
class ProgramsMenuLayout
{
public:
    // The caption (and command line) of the last item.
    static constexpr char EditListCaption[] = "Edit List";
    // Where the designed item 0 lies; the next items follow at the item picture's height plus
    // this gap.
    static constexpr int ItemGap = 10;
    static constexpr int CaptionLeft = 100;
    static constexpr int PathLeft = 4000;

    // `item0` gives the designed places of element 0 of the four arrays.
    explicit ProgramsMenuLayout(const ProgramsMenuItem& item0);

    // Builds one item per entry, in order, then "Edit List".
    void Build(const QList<ProgramEntry>& entries);

    int itemCount() const { return static_cast<int>(items_.size()); }
    const ProgramsMenuItem& item(int index) const { return items_[index]; }
    bool isEditListItem(int index) const { return index == itemCount() - 1; }

    // The mouse is over item `index`: it alone shows its highlighted background.
    void HighlightItem(int index);
    // The item whose highlighted background is in view, or -1.
    int highlightedItem() const;

    // The window is as wide as the item picture and ends at the last item picture's bottom.
    int windowWidth() const { return item0_.menuup.width; }
    int windowHeight() const;

private:
    void AddItem(const QByteArray& caption, const QByteArray& path);

    ProgramsMenuItem item0_;
    QList<ProgramsMenuItem> items_;
};

} // namespace tellaran
