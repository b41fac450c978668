#include "dx/page/PellucerPropertyPage.h"

#include <algorithm>
#include <new>

#include "dx/filter/EffectAccess.h"
#include "dx/server/Identifiers.h"
#include "dx/page/PropertyPage.h"
#include "dx/page/PropertyPageResources.h"

// IID_IMediaParams comes with the DirectX Media Objects GUID library; declared here so that the
// page need not include medparam.h, whose IMediaParams has its methods in the wrong order.
extern "C" const IID IID_IMediaParams;

namespace pellucer::dx {

namespace {

HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&thisModule), &module);
    return module;
}

template <typename T> void releaseAndClear(T*& pointer) {
    if (pointer != nullptr) {
        pointer->Release();
        pointer = nullptr;
    }
}

/// A copy of `text` in task memory, as property-page callers free it.
LPOLESTR taskString(const wchar_t* text, int length) {
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(static_cast<size_t>(length + 1) * sizeof(OLECHAR)));
    if (copy != nullptr) {
        for (int i = 0; i < length; ++i)
            copy[i] = text[i];
        copy[length] = 0;
    }
    return copy;
}

} // namespace

IUnknown* createPropertyPage(IUnknown* outer, HRESULT* result) {
    // The page is a plain object: nobody aggregates a property page.
    if (outer != nullptr) {
        if (result != nullptr)
            *result = CLASS_E_NOAGGREGATION;
        return nullptr;
    }
    auto* page = new (std::nothrow) PellucerPropertyPage();
    if (page == nullptr && result != nullptr)
        *result = E_OUTOFMEMORY;
    return page;
}

PellucerPropertyPage::~PellucerPropertyPage() {
    if (window_ != nullptr)
        DestroyWindow(window_); // closes the editor through the hide it brings
    releaseObjects();
    releaseAndClear(site_);
}

HRESULT STDMETHODCALLTYPE PellucerPropertyPage::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyPage)) {
        *object = static_cast<IPropertyPage*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE PellucerPropertyPage::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG STDMETHODCALLTYPE PellucerPropertyPage::Release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE PellucerPropertyPage::SetPageSite(IPropertyPageSite* site) {
    // A site is given once and taken away with null; anything else is out of order.
    if (site != nullptr && site_ != nullptr)
        return E_UNEXPECTED;
    releaseAndClear(site_);
    site_ = site;
    if (site_ != nullptr)
        site_->AddRef();
    return S_OK;
}

void PellucerPropertyPage::releaseObjects() {
    releaseAndClear(mediaParams_);
    releaseAndClear(uiCallback_);
    releaseAndClear(effectAccess_);
}

HRESULT STDMETHODCALLTYPE PellucerPropertyPage::SetObjects(ULONG count, IUnknown** objects) {
    if (count > 0 && objects == nullptr)
        return E_POINTER;
    releaseObjects();
    for (ULONG i = 0; i < count && mediaParams_ == nullptr; ++i) {
        if (objects[i] == nullptr)
            continue;
        void* params = nullptr;
        if (SUCCEEDED(objects[i]->QueryInterface(IID_IMediaParams, &params)) && params != nullptr) {
            mediaParams_ = static_cast<IUnknown*>(params);
            void* callback = nullptr;
            if (SUCCEEDED(objects[i]->QueryInterface(kIidParamsUICallback, &callback)))
                uiCallback_ = static_cast<IUnknown*>(callback);
        }
    }
    for (ULONG i = 0; i < count && effectAccess_ == nullptr; ++i) {
        void* access = nullptr;
        if (objects[i] != nullptr && SUCCEEDED(objects[i]->QueryInterface(kIidEffectAccess, &access)))
            effectAccess_ = static_cast<IUnknown*>(access);
    }
    if (window_ != nullptr && (mediaParams_ != nullptr || effectAccess_ != nullptr))
        InvalidateRect(window_, nullptr, TRUE);
    return S_OK;
}

vst::AEffect* PellucerPropertyPage::effect() const {
    if (effectAccess_ == nullptr)
        return nullptr;
    vst::AEffect* record = nullptr;
    if (FAILED(static_cast<IEffectAccess*>(effectAccess_)->GetEffect(&record)))
        return nullptr;
    return record != nullptr && record->magic == vst::kEffectMagic ? record : nullptr;
}

void PellucerPropertyPage::windowShown(bool shown) {
    vst::AEffect* record = effect();
    if (shown) {
        // Shown twice without a hide in between still opens one editor.
        if (editorOpen_ || record == nullptr)
            return;
        editorOpen_ = true;
        record->dispatcher(record, vst::effEditOpen, 0, 0, window_, 0.0f);
    } else if (editorOpen_) {
        editorOpen_ = false;
        if (record != nullptr)
            record->dispatcher(record, vst::effEditClose, 0, 0, nullptr, 0.0f);
    }
}

INT_PTR CALLBACK PellucerPropertyPage::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        return TRUE;
    }
    auto* page = reinterpret_cast<PellucerPropertyPage*>(GetWindowLongPtrW(window, DWLP_USER));
    if (page == nullptr)
        return FALSE;
    switch (message) {
    case WM_SHOWWINDOW:
        // Only the page's own show and hide (lParam 0), not a parent that is minimised or covered.
        if (lParam == 0)
            page->windowShown(wParam != FALSE);
        return FALSE;
    case WM_DESTROY:
        page->windowShown(false);
        SetWindowLongPtrW(window, DWLP_USER, 0);
        if (page->window_ == window)
            page->window_ = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

HRESULT STDMETHODCALLTYPE PellucerPropertyPage::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (rect == nullptr)
        return E_POINTER;
    if (window_ != nullptr)
        return E_UNEXPECTED;
    HWND window = CreateDialogParamW(thisModule(), MAKEINTRESOURCEW(PELLUCER_IDD_PROPERTY_PAGE), parent, dialogProc,
                                     reinterpret_cast<LPARAM>(this));
    if (window == nullptr)
        return E_OUTOFMEMORY;
    window_ = window;
    MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PellucerPropertyPage::Deactivate() {
    if (window_ == nullptr)
        return E_UNEXPECTED;
    HWND window = window_;
    DestroyWindow(window); // WM_DESTROY closes the editor and forgets the window
    window_ = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PellucerPropertyPage::GetPageInfo(PROPPAGEINFO* info) {
    if (info == nullptr)
        return E_POINTER;
    wchar_t caption[64];
    const int length = LoadStringW(thisModule(), PELLUCER_IDS_PAGE_CAPTION, caption, 64);
    LPOLESTR title = taskString(caption, length > 0 ? length : 0);
    if (title == nullptr)
        return E_OUTOFMEMORY;
    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = title;
    // The page's own template measured in pixels; the editor inside it has its own size, and a
    // page smaller than the editor would cut it off, so the larger of the two is asked for.
    SIZE size{0, 0};
    HWND probe = CreateDialogParamW(thisModule(), MAKEINTRESOURCEW(PELLUCER_IDD_PROPERTY_PAGE), GetDesktopWindow(),
                                    dialogProc, 0);
    if (probe != nullptr) {
        RECT bounds{};
        GetWindowRect(probe, &bounds);
        size = {bounds.right - bounds.left, bounds.bottom - bounds.top};
        DestroyWindow(probe);
    }
    if (vst::AEffect* record = effect()) {
        vst::ERect* editor = nullptr;
        if (record->dispatcher(record, vst::effEditGetRect, 0, 0, &editor, 0.0f) != 0 && editor != nullptr) {
            size.cx = std::max<LONG>(size.cx, editor->right - editor->left);
            size.cy = std::max<LONG>(size.cy, editor->bottom - editor->top);
        }
    }
    info->size = size;
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PellucerPropertyPage::Show(UINT command) {
    if (window_ == nullptr)
        return E_UNEXPECTED;
    ShowWindow(window_, static_cast<int>(command));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PellucerPropertyPage::Move(LPCRECT rect) {
    if (rect == nullptr)
        return E_POINTER;
    if (window_ == nullptr)
        return E_UNEXPECTED;
    MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

// Every change in the editor reaches the effect at once: there is nothing to apply.
HRESULT STDMETHODCALLTYPE PellucerPropertyPage::IsPageDirty() { return S_FALSE; }
HRESULT STDMETHODCALLTYPE PellucerPropertyPage::Apply() { return S_OK; }
HRESULT STDMETHODCALLTYPE PellucerPropertyPage::Help(LPCOLESTR) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE PellucerPropertyPage::TranslateAccelerator(MSG* message) {
    if (message == nullptr)
        return E_POINTER;
    return S_FALSE;
}

} // namespace pellucer::dx
