// Lookups in the program's resource table, and the string helpers on top.
#include "framework/Resources.h"

#include <string>

#include "framework/AfxStrings.h"

namespace win {
namespace {

const ResourceTable* g_table = nullptr;

template <class Record, class Range>
const Record* FindById(const Range& records, UINT id) {
    for (const Record& r : records)
        if (r.id == id) return &r;
    return nullptr;
}

}  // namespace

void AfxSetResourceTable(const ResourceTable* table) { g_table = table; }
const ResourceTable* AfxGetResourceTable() { return g_table; }

const char* AfxFindString(UINT id) {
    if (!g_table) return nullptr;
    const StringResource* s = FindById<StringResource>(g_table->strings, id);
    return s ? s->text : nullptr;
}
const MenuResource* AfxFindMenu(UINT id) { return g_table ? FindById<MenuResource>(g_table->menus, id) : nullptr; }
const AcceleratorResource* AfxFindAccelerators(UINT id) {
    return g_table ? FindById<AcceleratorResource>(g_table->accelerators, id) : nullptr;
}
const ToolbarResource* AfxFindToolbar(UINT id) {
    return g_table ? FindById<ToolbarResource>(g_table->toolbars, id) : nullptr;
}
const BitmapResource* AfxFindBitmap(UINT id) {
    return g_table ? FindById<BitmapResource>(g_table->bitmaps, id) : nullptr;
}
const IconResource* AfxFindIcon(UINT id) { return g_table ? FindById<IconResource>(g_table->icons, id) : nullptr; }
const DialogResource* AfxFindDialog(UINT id) {
    return g_table ? FindById<DialogResource>(g_table->dialogs, id) : nullptr;
}

bool AfxLoadString(UINT id, std::string& text) {
    const char* s = AfxFindString(id);
    if (!s) {
        text.clear();
        return false;
    }
    text = s;
    return true;
}

bool AfxExtractSubString(std::string& field, const std::string& full, int index, char separator) {
    size_t start = 0;
    for (int i = 0; i < index; ++i) {
        size_t next = full.find(separator, start);
        if (next == std::string::npos) {
            field.clear();
            return false;
        }
        start = next + 1;
    }
    size_t end = full.find(separator, start);
    field = full.substr(start, end == std::string::npos ? std::string::npos : end - start);
    return true;
}

}  // namespace win
