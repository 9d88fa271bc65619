// The view base and the framework's printing on Qt PrintSupport.
#include "framework/CView.h"

#include <QApplication>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTemporaryDir>

#include "framework/CDocument.h"
#include "framework/FrameworkIds.h"

namespace win {
using namespace afx;

namespace {
bool g_autoAcceptPrintDialog = false;
int* g_previewSink = nullptr;
}  // namespace

void testing::SetPrintDialogAutoAccept(bool accept) { g_autoAcceptPrintDialog = accept; }
void testing::SetPrintPreviewSink(int* pageCount) { g_previewSink = pageCount; }

const CommandTable* CView::GetCommandTable() const {
    static const CommandTable table{std::span<const CommandEntry>(), nullptr};
    return &table;
}

CView::CView() = default;

CView::~CView() {
    if (m_pDocument) m_pDocument->RemoveView(this);
}

void CView::OnInitialUpdate() { OnUpdate(nullptr, 0, nullptr); }

void CView::OnUpdate(CView*, LPARAM, CObject*) { Invalidate(); }

BOOL CView::PreCreateWindow(CREATESTRUCT& cs) { return CWnd::PreCreateWindow(cs); }

QWidget* CView::CreateWidget(const CREATESTRUCT& cs, QWidget* parent) { return CWnd::CreateWidget(cs, parent); }

void CView::OnDestroy() {}

void CView::PostNcDestroy() {
    if (m_pDocument) m_pDocument->RemoveView(this);
    delete this;
}

BOOL CView::OnPreparePrinting(CPrintInfo* info) { return DoPreparePrinting(info); }

BOOL CView::DoPreparePrinting(CPrintInfo* info) {
    if (info->m_bDirect || info->m_bPreview || g_autoAcceptPrintDialog || !m_pPrinter) return TRUE;
    QPrintDialog dialog(m_pPrinter, QApplication::activeWindow());
    dialog.setMinMax(static_cast<int>(info->m_nMinPage), static_cast<int>(info->m_nMaxPage));
    return dialog.exec() == QDialog::Accepted ? TRUE : FALSE;
}

void CView::OnBeginPrinting(CDC*, CPrintInfo*) {}
void CView::OnEndPrinting(CDC*, CPrintInfo*) {}
void CView::OnPrint(CDC* dc, CPrintInfo*) { OnDraw(dc); }

void CView::PrintPages(QPrinter& printer, CPrintInfo& info) {
    QPainter painter;
    if (!painter.begin(&printer)) return;
    CDC dc(&painter, true);
    OnBeginPrinting(&dc, &info);
    for (info.m_nCurPage = info.m_nMinPage; info.m_nCurPage <= info.m_nMaxPage && info.m_bContinuePrinting;
         ++info.m_nCurPage) {
        if (info.m_nCurPage != info.m_nMinPage) printer.newPage();
        OnPrint(&dc, &info);
    }
    OnEndPrinting(&dc, &info);
    painter.end();
}

void CView::RunPrintJob(bool direct) {
    QPrinter printer;
    CPrintInfo info;
    info.m_bDirect = direct ? TRUE : FALSE;
    m_pPrinter = &printer;
    const BOOL go = OnPreparePrinting(&info);
    m_pPrinter = nullptr;
    if (go) PrintPages(printer, info);
}

void CView::OnFilePrint() { RunPrintJob(GetCurrentCommand() == ID_FILE_PRINT_DIRECT); }

void CView::OnFilePrintPreview() {
    CPrintInfo info;
    info.m_bPreview = TRUE;
    if (!OnPreparePrinting(&info)) return;
    if (g_previewSink) {
        QTemporaryDir dir;
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath("preview.pdf"));
        PrintPages(printer, info);
        *g_previewSink = static_cast<int>(info.m_nCurPage - info.m_nMinPage);
        return;
    }
    QPrintPreviewDialog dialog(QApplication::activeWindow());
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [this, &info](QPrinter* printer) {
        CPrintInfo page = info;
        PrintPages(*printer, page);
    });
    dialog.exec();
}

}  // namespace win
