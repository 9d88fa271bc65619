// The view: a child window of the frame that shows its document, and the
// framework's printing (Print, direct print, Print Preview on Qt PrintSupport;
// the pages are what OnDraw draws, blank when it draws nothing).
//
// CListView (the listctrl helper's framework/CListView.h) derives from this
// class: its window is the list control (CreateWidget), GetListCtrl() returns
// it, and it reflects the list's NM_CLICK and NM_DBLCLK to the view's own
// notification table with OnNotifyMsg.
#pragma once

#include "framework/CDC.h"
#include "framework/CPrintInfo.h"
#include "framework/CWnd.h"

class QPrinter;

namespace win {

class CDocument;

inline constexpr UINT AFX_IDW_PANE_FIRST = 0xE900;

class CView : public CWnd {
public:
    CView();
    ~CView() override;

    CDocument* GetDocument() const { return m_pDocument; }
    /// The base calls OnUpdate(nullptr, 0, nullptr).
    virtual void OnInitialUpdate();
    /// The base repaints the view.
    virtual void OnUpdate(CView* sender, LPARAM hint, CObject* hintObject);
    virtual void OnDraw(CDC* dc) = 0;

    /// Print (57607) shows the print dialog; direct print (57608) does not.
    void OnFilePrint();
    void OnFilePrintPreview();

    /// Draws every page of the job onto the printer (framework and test use).
    void PrintPages(QPrinter& printer, CPrintInfo& info);

    const CommandTable* GetCommandTable() const override;

    CDocument* m_pDocument = nullptr;

protected:
    /// The base calls DoPreparePrinting.
    virtual BOOL OnPreparePrinting(CPrintInfo* info);
    /// Shows the print dialog unless direct or preview; false when cancelled.
    BOOL DoPreparePrinting(CPrintInfo* info);
    virtual void OnBeginPrinting(CDC* dc, CPrintInfo* info);
    virtual void OnEndPrinting(CDC* dc, CPrintInfo* info);
    virtual void OnPrint(CDC* dc, CPrintInfo* info);

    BOOL PreCreateWindow(CREATESTRUCT& cs) override;
    QWidget* CreateWidget(const CREATESTRUCT& cs, QWidget* parent) override;
    void OnDestroy() override;
    /// Views delete themselves when their window is gone.
    void PostNcDestroy() override;

private:
    void RunPrintJob(bool direct);
    QPrinter* m_pPrinter = nullptr;  // the job in progress, for DoPreparePrinting
};

namespace testing {
/// While set, the print dialog is answered with OK without showing.
void SetPrintDialogAutoAccept(bool accept);
/// While set, print preview renders its pages to a PDF printer and counts them instead of showing.
void SetPrintPreviewSink(int* pageCount);
}  // namespace testing

}  // namespace win
