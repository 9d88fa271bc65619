// The packet detail window, titled "Packet": one captured datagram's
// addresses, protocol, TCP ports and a hexadecimal and character dump of its
// bytes, with coloured headings, labels and values, in a read-only rich-text
// control that covers the whole client area. The list view holds the one
// instance, creates its window on a double-click and points it at the record
// of the clicked row. UI thread only.
#pragma once

#include "framework/CRichEditCtrl.h"
#include "framework/CWnd.h"

class Packet;

class CPacketWnd : public win::CWnd {
public:
    /// Colours of the three kinds of text. Each reaches a contrast of at least
    /// 4.5:1 against the white ground, as small text needs: dark red 6.75:1,
    /// black 21:1, green 5.14:1 (the lighter RGB(0, 187, 0) gave 2.59:1).
    static constexpr win::COLORREF kHeadingColor = win::RGB(187, 0, 0);
    static constexpr win::COLORREF kLabelColor = win::RGB(0, 0, 0);
    static constexpr win::COLORREF kValueColor = win::RGB(0, 128, 0);

    CPacketWnd();
    /// Destroys the text control and, if it still exists, the window.
    ~CPacketWnd() override;

    /// The record shown; not owned (its list row owns it). Set by the list view
    /// before each Refresh; null shows an empty window.
    Packet* m_pPacket;
    /// The control that shows the text.
    win::CRichEditCtrl m_wndText;

    /// Replaces the whole text with that of m_pPacket.
    void Refresh();
    /// Sets the face name of the text inserted next.
    void SetFace(const char* face);
    /// Sets the colour of the text inserted next.
    void SetColor(win::COLORREF color);

protected:
    int OnCreate(win::LPCREATESTRUCT cs) override;
    void OnSize(win::UINT type, int cx, int cy) override;

private:
    void Insert(const char* text);
};
