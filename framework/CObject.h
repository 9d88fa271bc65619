// The root of the framework's class tree and its class records. A class record
// names a class and creates instances of it, so that the document template can
// make the program's document, frame and view from records alone:
//
//     class CCorvelDoc : public CDocument {
//     public:
//         static const CRuntimeClass classCCorvelDoc;
//         const CRuntimeClass* GetRuntimeClass() const override { return &classCCorvelDoc; }
//     };
//     const CRuntimeClass CCorvelDoc::classCCorvelDoc{"CCorvelDoc", []() -> CObject* { return new CCorvelDoc; }};
//
// Where another framework would write RUNTIME_CLASS(CCorvelDoc), pass
// &CCorvelDoc::classCCorvelDoc.
#pragma once

namespace win {

class CObject;

/// A class record: the class name and a factory (null for abstract classes).
struct CRuntimeClass {
    const char* m_lpszClassName;
    CObject* (*m_pfnCreateObject)();

    /// A new instance, or null when the class is not creatable.
    CObject* CreateObject() const { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }
};

class CObject {
public:
    virtual ~CObject() = default;
    /// The record of the object's most derived class that has one.
    virtual const CRuntimeClass* GetRuntimeClass() const;
    /// True when the object's record is the given one.
    bool IsKindOf(const CRuntimeClass* record) const { return GetRuntimeClass() == record; }

    static const CRuntimeClass classCObject;
};

}  // namespace win
