// Command table lookup: a table's own entries first, then its base's.
#include "framework/CCmdTarget.h"

namespace win {
namespace {
UINT g_currentCommand = 0;
}

UINT CCmdTarget::GetCurrentCommand() { return g_currentCommand; }

const CommandEntry* CCmdTarget::FindEntry(CommandEntry::Kind kind, UINT id) const {
    for (const CommandTable* table = GetCommandTable(); table; table = table->base)
        for (const CommandEntry& entry : table->entries)
            if (entry.kind == kind && entry.id == id) return &entry;
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT id) {
    const CommandEntry* entry = FindEntry(CommandEntry::kCommand, id);
    if (!entry) return FALSE;
    const UINT outer = g_currentCommand;
    g_currentCommand = id;
    (this->*(entry->command))();
    g_currentCommand = outer;
    return TRUE;
}

BOOL CCmdTarget::OnUpdateCmdMsg(CCmdUI* ui) {
    const CommandEntry* entry = FindEntry(CommandEntry::kUpdate, ui->m_nID);
    if (!entry) return FALSE;
    (this->*(entry->update))(ui);
    return TRUE;
}

BOOL CCmdTarget::HasCommandHandler(UINT id) const {
    return FindEntry(CommandEntry::kCommand, id) ? TRUE : FALSE;
}

BOOL CCmdTarget::OnNotifyMsg(NMHDR* header, LRESULT* result) {
    const CommandEntry* entry = FindEntry(CommandEntry::kNotify, header->code);
    if (!entry) return FALSE;
    LRESULT ignored = 0;
    if (!result) result = &ignored;
    *result = 0;
    (this->*(entry->notify))(header, result);
    return TRUE;
}

}  // namespace win
