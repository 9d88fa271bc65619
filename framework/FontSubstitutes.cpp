// Face substitutes: see FontSubstitutes.h.
#include "framework/FontSubstitutes.h"

#include <QFont>
#include <QStringList>

namespace win {

void InstallFontSubstitutes() {
    static const struct {
        const char* face;
        const char* substitute;
    } kSubstitutes[] = {
        {"Arial", "Liberation Sans"},
        {"Helvetica", "Liberation Sans"},
        {"Times New Roman", "Liberation Serif"},
        {"Courier", "Liberation Mono"},
        {"Courier New", "Liberation Mono"},
    };
    for (const auto& s : kSubstitutes) {
        const QString face = QString::fromLatin1(s.face);
        if (!QFont::substitutes(face).contains(QString::fromLatin1(s.substitute)))
            QFont::insertSubstitution(face, QString::fromLatin1(s.substitute));
    }
}

}  // namespace win
