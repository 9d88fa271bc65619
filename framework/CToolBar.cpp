// The toolbar on QToolBar, built from the toolbar and bitmap resources.
#include "framework/CToolBar.h"

#include <QAction>
#include <QApplication>
#include <QBitmap>
#include <QEvent>
#include <QImage>
#include <QMainWindow>
#include <QPixmap>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

#include "framework/AfxStrings.h"
#include "framework/CFrameWnd.h"
#include "framework/Resources.h"

namespace win {
namespace {

bool g_failCreate = false;
bool g_failLoad = false;

/// Shows a button's prompt while the pointer rests on it, "Ready" after.
class ButtonHover : public QObject {
public:
    ButtonHover(QObject* parent, CFrameWnd* frame, UINT id) : QObject(parent), m_frame(frame), m_id(id) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Enter) m_frame->SetMessageText(m_id);
        if (event->type() == QEvent::Leave) m_frame->SetMessageText(0U);
        return false;
    }

private:
    CFrameWnd* m_frame;
    UINT m_id;
};

}  // namespace

QPixmap CToolBar::ButtonImage(const QPixmap& strip, int index, int width, int height, qreal scale) {
    QPixmap image = strip.copy(index * width, 0, width, height);
    // The images' light grey ground stands for the button face: it shows
    // whatever face the button is drawn with.
    image.setMask(image.createMaskFromColor(QColor(192, 192, 192), Qt::MaskInColor));
    if (scale <= 1.0 || scale == static_cast<int>(scale)) return image;
    // At a fractional scale, a smoothly scaled image at the device's own
    // resolution, instead of pixels repeated unevenly.
    QPixmap scaled = image.scaled(qRound(width * scale), qRound(height * scale), Qt::IgnoreAspectRatio,
                                  Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(scale);
    return scaled;
}

void testing::FailNextToolBarCreate() { g_failCreate = true; }
void testing::FailNextToolBarLoad() { g_failLoad = true; }

BOOL CToolBar::CreateEx(CWnd* parent, DWORD, DWORD style, const RECT&, UINT id) {
    if (g_failCreate) {
        g_failCreate = false;
        return FALSE;
    }
    if (!parent || !parent->GetWidget()) return FALSE;
    auto* toolbar = new QToolBar(parent->GetWidget());
    toolbar->setObjectName("toolbar");
    toolbar->setMovable(true);
    toolbar->setFloatable(true);
    toolbar->setAllowedAreas(Qt::AllToolBarAreas);
    if (!AttachBar(toolbar, parent, style, id)) return FALSE;
    if (!(style & WS_VISIBLE)) toolbar->hide();
    return TRUE;
}

BOOL CToolBar::LoadToolBar(UINT id) {
    if (g_failLoad) {
        g_failLoad = false;
        return FALSE;
    }
    auto* toolbar = qobject_cast<QToolBar*>(GetWidget());
    const ToolbarResource* resource = AfxFindToolbar(id);
    const BitmapResource* bitmap = AfxFindBitmap(id);
    if (!toolbar || !resource || !bitmap || !m_pFrame) return FALSE;
    const QPixmap strip(bitmap->xpm);
    if (strip.isNull()) return FALSE;
    const int w = resource->imageWidth, h = resource->imageHeight;
    toolbar->setIconSize(QSize(w, h));
    toolbar->clear();
    m_items.clear();
    int image = 0;
    for (UINT command : resource->items) {
        m_items.push_back(command);
        if (command == 0) {
            toolbar->addSeparator();
            continue;
        }
        std::string full, prompt, tip;
        AfxLoadString(command, full);
        AfxExtractSubString(tip, full, 1);
        QIcon icon(ButtonImage(strip, image, w, h, 1.0));
        const qreal scale = std::max(toolbar->devicePixelRatioF(), qApp->devicePixelRatio());
        if (scale > 1.0) icon.addPixmap(ButtonImage(strip, image, w, h, scale));
        auto* action = new QAction(icon, QString::fromStdString(tip), toolbar);
        ++image;
        action->setData(command);
        action->setToolTip(QString::fromStdString(tip));
        CFrameWnd* frame = m_pFrame;
        QObject::connect(action, &QAction::triggered, toolbar, [frame, command]() { frame->ExecuteCommand(command); });
        toolbar->addAction(action);
        if (QWidget* button = toolbar->widgetForAction(action)) {
            button->setFixedSize(w + 7, h + 7);
            button->installEventFilter(new ButtonHover(button, frame, command));
        }
    }
    return TRUE;
}

}  // namespace win
