// Shared pieces of the list view tests: records that count their deletion,
// and a harness that builds a document, a top-level frame window and the view
// in it the way the framework's template does, without the application.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "document/CCorvelDoc.h"
#include "framework/CListView.h"
#include "framework/ListModel.h"
#include "framework/ListTableView.h"
#include "packet/IPPacket.h"
#include "platform/WinSock.h"
#include "tests/packet/DatagramBuilder.h"
#include "ui/CCorvelView.h"

namespace viewtest {

/// Makes the offscreen application object unless there is one: for tests whose
/// bodies run in a child process made after the fork.
inline void EnsureApp() {
    if (qApp) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "ui_test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

/// Windows Sockets started for the object's life (capture and lookups need it).
class WinsockSession {
public:
    WinsockSession() { win::WSAStartup(0x0202, &m_data); }
    ~WinsockSession() { win::WSACleanup(); }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

private:
    win::WSADATA m_data{};
};

/// Deleted records, counted by CountedPacket's destructor.
inline std::atomic<int> g_deleted{0};

/// A real record that counts its deletion.
class CountedPacket : public IPPacket {
public:
    ~CountedPacket() override { ++g_deleted; }
};

/// A decoded-ready UDP record from source to dest (host-order addresses).
inline CountedPacket* Udp(std::uint32_t source, std::uint16_t sport, std::uint32_t dest, std::uint16_t dport,
                          int payload = 4) {
    testdata::Bytes b = testdata::Datagram(5, 17, source, dest, 28 + payload, {});
    const testdata::Bytes udp = {static_cast<std::uint8_t>(sport >> 8), static_cast<std::uint8_t>(sport),
                                 static_cast<std::uint8_t>(dport >> 8), static_cast<std::uint8_t>(dport),
                                 0, static_cast<std::uint8_t>(8 + payload), 0, 0};
    b.insert(b.end(), udp.begin(), udp.end());
    b.resize(b.size() + payload, 0x61);
    auto* p = new CountedPacket;
    std::memcpy(p->GetData(), b.data(), b.size());
    p->SetReceived(static_cast<int>(b.size()));
    return p;  // not decoded: AddPacketRow decodes
}

inline double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

/// Processes events until pred holds or ms pass; returns pred().
template <class Pred>
bool PumpUntil(Pred pred, int ms = 5000) {
    const auto start = std::chrono::steady_clock::now();
    while (!pred()) {
        if (Seconds(start) * 1000 > ms) return pred();
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QTest::qWait(2);
    }
    return true;
}

/// Document, frame and view; the view deletes itself when its window goes.
class Harness {
public:
    explicit Harness(bool initialUpdate = true) {
        doc = new CCorvelDoc;
        EXPECT_TRUE(frame.CreateEx(0, "QvTestFrame", "Quorvane", win::WS_OVERLAPPEDWINDOW | win::WS_VISIBLE, 0, 0, 900,
                                   500, nullptr, nullptr));
        view = new CCorvelView;
        view->m_pDocument = doc;
        doc->AddView(view);
        EXPECT_TRUE(view->Create(nullptr, nullptr, win::WS_CHILD | win::WS_VISIBLE | win::WS_BORDER,
                                 win::CRect(0, 0, 880, 480), &frame, win::AFX_IDW_PANE_FIRST));
        if (initialUpdate) view->OnInitialUpdate();
    }
    ~Harness() {
        DestroyView();
        frame.DestroyWindow();
        delete doc;
    }
    /// Destroys the view's window (and so the view); returns the seconds it took.
    double DestroyView() {
        if (!view) return 0;
        const auto start = std::chrono::steady_clock::now();
        view->DestroyWindow();
        view = nullptr;
        return Seconds(start);
    }
    win::CListCtrl& List() { return view->GetListCtrl(); }
    std::string Cell(int row, int column) { return List().GetItemText(row, column); }
    QPoint RowCenter(int row) {
        QApplication::processEvents();
        win::ListTableView* table = List().GetTableView();
        return table->visualRect(List().GetModel()->index(row, 0)).center();
    }
    QWidget* Viewport() { return List().GetTableView()->viewport(); }
    void Click(int row) { QTest::mouseClick(Viewport(), Qt::LeftButton, Qt::NoModifier, RowCenter(row)); }
    void ClickEmptySpace() {
        QTest::mouseClick(Viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, Viewport()->height() - 5));
    }
    void DoubleClick(int row) { QTest::mouseDClick(Viewport(), Qt::LeftButton, Qt::NoModifier, RowCenter(row)); }

    win::CWnd frame;
    CCorvelDoc* doc = nullptr;
    CCorvelView* view = nullptr;
};

}  // namespace viewtest
