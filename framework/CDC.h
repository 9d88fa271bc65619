// The drawing context views draw into: a Qt painter on the screen, a printed
// page or a preview page.
#pragma once

class QPainter;

namespace win {

class CDC {
public:
    explicit CDC(QPainter* painter = nullptr, bool printing = false) : m_pPainter(painter), m_bPrinting(printing) {}
    bool IsPrinting() const { return m_bPrinting; }
    QPainter* m_pPainter;

private:
    bool m_bPrinting;
};

}  // namespace win
