// Objects that take commands. Each class lists its command, update and
// notification handlers as plain data and returns the list with its base's:
//
//     const CommandEntry CCorvelDoc::kCommands[] = {
//         CommandHandler(ID_CAPTURE_START, &CCorvelDoc::OnCaptureStart),
//         UpdateHandler(ID_CAPTURE_START, &CCorvelDoc::OnUpdateCaptureStart),
//     };
//     const CommandTable* CCorvelDoc::GetCommandTable() const {
//         static const CommandTable table{kCommands, CDocument::GetCommandTable()};
//         return &table;
//     }
//
// A table lists its own entries before its base's, so a derived class wins.
#pragma once

#include <span>

#include "framework/CCmdUI.h"
#include "framework/CObject.h"
#include "framework/WinUser.h"

namespace win {

class CCmdTarget;

/// One entry of a command table: a command handler, an update handler or a
/// notification handler (for notifications the id is the notification code).
struct CommandEntry {
    enum Kind { kCommand, kUpdate, kNotify };
    Kind kind;
    UINT id;
    void (CCmdTarget::*command)();
    void (CCmdTarget::*update)(CCmdUI*);
    void (CCmdTarget::*notify)(NMHDR*, LRESULT*);
};

template <class T>
CommandEntry CommandHandler(UINT id, void (T::*handler)()) {
    return {CommandEntry::kCommand, id, static_cast<void (CCmdTarget::*)()>(handler), nullptr, nullptr};
}
template <class T>
CommandEntry UpdateHandler(UINT id, void (T::*handler)(CCmdUI*)) {
    return {CommandEntry::kUpdate, id, nullptr, static_cast<void (CCmdTarget::*)(CCmdUI*)>(handler), nullptr};
}
template <class T>
CommandEntry NotifyHandler(UINT code, void (T::*handler)(NMHDR*, LRESULT*)) {
    return {CommandEntry::kNotify, code, nullptr, nullptr,
            static_cast<void (CCmdTarget::*)(NMHDR*, LRESULT*)>(handler)};
}

/// A class's entries and the table of its base class (null at the root).
struct CommandTable {
    std::span<const CommandEntry> entries;
    const CommandTable* base;
};

class CCmdTarget : public CObject {
public:
    /// This object's table chain; the root has none.
    virtual const CommandTable* GetCommandTable() const { return nullptr; }

    /// Runs the command handler for the id if this object's tables list one.
    virtual BOOL OnCmdMsg(UINT id);
    /// Runs the update handler for the id if this object's tables list one.
    virtual BOOL OnUpdateCmdMsg(CCmdUI* ui);
    /// True when this object's tables list a command handler for the id.
    virtual BOOL HasCommandHandler(UINT id) const;
    /// Runs the notification handler for the code; *result is set to 0 first.
    virtual BOOL OnNotifyMsg(NMHDR* header, LRESULT* result);

    /// The id of the command whose handler is running (0 outside handlers).
    static UINT GetCurrentCommand();

protected:
    const CommandEntry* FindEntry(CommandEntry::Kind kind, UINT id) const;
};

}  // namespace win
