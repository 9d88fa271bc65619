// A Qt generic plugin that reports what the program's windows show, for the
// tests that drive the built program on a real desktop (tests/e2e/desktop-e2e.sh,
// scripts/screenshots.sh). It is loaded only when a test asks for it
// (QT_PLUGIN_PATH with QT_QPA_GENERIC_PLUGINS=qvreport), so nothing of it is
// in the shipped program. With QUORVANE_TEST_REPORT naming a file, that file
// is replaced a few times a second by lines that describe every visible
// top-level window (title, frame, screen area, owner), every list (column
// widths and the widths their header and cells need, horizontal scroll bar)
// and every text view (the line at its top). QUORVANE_TEST_PROBES may list
// texts, separated by "|", whose needed cell width in each list is reported
// too. The widths are measured as the framework measures them (its
// FontScale, compiled in).
#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QGenericPlugin>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <string>

#include "framework/FontScale.h"

namespace {

QString Rect(const QRect& r) { return QString("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()); }

QString OneLine(QString text) {
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

void DescribeList(QString& out, const QAbstractItemView* view, const QStringList& probes) {
    const QHeaderView* header = nullptr;
    for (const QHeaderView* h : view->findChildren<QHeaderView*>())
        if (h->orientation() == Qt::Horizontal) header = h;
    const QAbstractItemModel* model = view->model();
    if (!header || !model) return;
    // Where row r lies in the window: y = rowtop + r * rowheight.
    const QPoint origin = view->viewport()->mapTo(view->window(), QPoint(0, 0));
    const int rowHeight = model->rowCount() > 0 ? view->visualRect(model->index(0, 0)).height() : 0;
    const int rowTop = model->rowCount() > 0 ? origin.y() + view->visualRect(model->index(0, 0)).top() : origin.y();
    // The vertical scroll bar counts rows: its value is the top row in view.
    const QScrollBar* vertical = view->verticalScrollBar();
    const QModelIndexList selected = view->selectionModel() ? view->selectionModel()->selectedRows() : QModelIndexList();
    out += QString("list hscroll=%1 viewport=%2 rows=%3 rowtop=%4 rowheight=%5 left=%6 top=%7 vmax=%8 selected=%9 "
                   "focus=%10\n")
               .arg(view->horizontalScrollBar()->isVisible() ? 1 : 0)
               .arg(view->viewport()->width())
               .arg(model->rowCount())
               .arg(rowTop)
               .arg(rowHeight)
               .arg(origin.x())
               .arg(vertical->value())
               .arg(vertical->maximum())
               .arg(selected.isEmpty() ? -1 : selected.first().row())
               .arg(view->hasFocus() ? 1 : 0);
    for (int r = 0; r < model->rowCount() && r < 1000; ++r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c) cells << model->index(r, c).data().toString();
        out += QString("row %1 %2\n").arg(r).arg(cells.join(QLatin1Char('|')));
    }
    for (int c = 0; c < model->columnCount(); ++c) {
        const QString title = model->headerData(c, Qt::Horizontal).toString();
        int cells = 0;
        for (int r = 0; r < model->rowCount(); ++r)
            cells = std::max(cells, win::FontScale::CellWidth(view, model->index(r, c).data().toString()));
        out += QString("column %1 width=%2 header=%3 cells=%4 title=%5\n")
                   .arg(c)
                   .arg(header->sectionSize(c))
                   .arg(win::FontScale::HeaderWidth(header, title))
                   .arg(cells)
                   .arg(title);
    }
    for (const QString& probe : probes)
        out += QString("probe need=%1 text=%2\n").arg(win::FontScale::CellWidth(view, probe)).arg(probe);
}

void DescribeText(QString& out, const QPlainTextEdit* edit) {
    const QTextCursor top = edit->cursorForPosition(QPoint(0, 0));
    out += QString("text vscroll=%1 lines=%2 top=%3\n")
               .arg(edit->verticalScrollBar()->value())
               .arg(edit->document()->blockCount())
               .arg(OneLine(top.block().text()));
}

void DescribeStatusBar(QString& out, const QStatusBar* bar) {
    QStringList panes;
    for (const QLabel* pane : bar->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) panes << pane->text();
    out += QString("status panes=%1\n").arg(panes.join(QLatin1Char('|')));
}

void DescribeField(QString& out, const QLineEdit* edit) {
    out += QString("field focus=%1 color=%2 tip=%3 text=%4\n")
               .arg(edit->hasFocus() ? 1 : 0)
               .arg(edit->palette().color(QPalette::Text).name())
               .arg(OneLine(edit->toolTip()).replace(QLatin1Char(' '), QLatin1Char('_')))
               .arg(edit->text());
}

std::string DescribeWindows() {
    const QStringList probes =
        qEnvironmentVariable("QUORVANE_TEST_PROBES").split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QString out;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible()) continue;
        const QWindow* handle = window->windowHandle();
        const QWindow* owner = handle ? handle->transientParent() : nullptr;
        QScreen* screen = window->screen();
        out += QString("window title=%1 frame=%2 geometry=%3 available=%4 owner=%5 active=%6 minimized=%7\n")
                   .arg(OneLine(window->windowTitle()))
                   .arg(Rect(window->frameGeometry()))
                   .arg(Rect(window->geometry()))
                   .arg(screen ? Rect(screen->availableGeometry()) : QString("-"))
                   .arg(owner ? OneLine(owner->title()) : QString("-"))
                   .arg(window->isActiveWindow() ? 1 : 0)
                   .arg(window->isMinimized() ? 1 : 0);
        for (const QAbstractItemView* view : window->findChildren<QAbstractItemView*>())
            if (view->isVisible()) DescribeList(out, view, probes);
        for (const QPlainTextEdit* edit : window->findChildren<QPlainTextEdit*>())
            if (edit->isVisible()) DescribeText(out, edit);
        for (const QStatusBar* bar : window->findChildren<QStatusBar*>())
            if (bar->isVisible()) DescribeStatusBar(out, bar);
        for (const QLineEdit* edit : window->findChildren<QLineEdit*>())
            if (edit->isVisible()) DescribeField(out, edit);
    }
    return out.toStdString();
}

}  // namespace

class TestReportPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "TestReportPlugin.json")

public:
    QObject* create(const QString&, const QString&) override {
        const QString path = qEnvironmentVariable("QUORVANE_TEST_REPORT");
        if (path.isEmpty() || !qApp) return nullptr;
        // The application owns what a generic plugin makes and deletes it at exit.
        auto* timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, timer, [path]() {
            // Written whole to a temporary file, then renamed, so a reader never sees half.
            QFile file(path + ".tmp");
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
            file.write(DescribeWindows().c_str());
            file.close();
            QFile::remove(path);
            QFile::rename(path + ".tmp", path);
        });
        timer->start(250);
        return timer;
    }
};

#include "TestReportPlugin.moc"
