// Window class registration. Qt needs no classes; the framework keeps the
// names so that a class name given to CreateEx is one that was registered.
#include <cstdio>
#include <mutex>
#include <set>
#include <string>

#include "framework/WinUser.h"

namespace win {

LPCSTR AfxRegisterWndClass(UINT classStyle, HCURSOR cursor, HBRUSH background, HICON icon) {
    static std::mutex lock;
    static std::set<std::string>* names = new std::set<std::string>;  // names live to the end
    char name[96];
    std::snprintf(name, sizeof name, "Afx:%x:%llx:%llx:%llx", classStyle,
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(cursor)),
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(background)),
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(icon)));
    std::lock_guard guard(lock);
    return names->insert(name).first->c_str();
}

}  // namespace win
