#pragma once

// The filter's property page ("Pellucer Properties"): an empty child dialog into which the
// effect opens its own editor while the page is on show. The host finds the page through the
// filter's ISpecifyPropertyPages, creates it by its CLSID and hands it the filter in SetObjects.

#include <windows.h>

#include <ocidl.h>

#include "dx/server/ModuleCounts.h"
#include "vst/VstAbi.h"

namespace pellucer::dx {

class PellucerPropertyPage final : public IPropertyPage {
public:
    PellucerPropertyPage() = default;
    PellucerPropertyPage(const PellucerPropertyPage&) = delete;
    PellucerPropertyPage& operator=(const PellucerPropertyPage&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IPropertyPage
    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT STDMETHODCALLTYPE Show(UINT command) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR helpDir) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) override;

    /// The page window while the page is active, else null.
    HWND window() const { return window_; }
    /// True while the effect's editor is open in the page window.
    bool editorOpen() const { return editorOpen_; }

private:
    ~PellucerPropertyPage();

    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void windowShown(bool shown);
    vst::AEffect* effect() const;
    void releaseObjects();

    ActiveObject counted_;
    LONG references_ = 0;
    IPropertyPageSite* site_ = nullptr;
    HWND window_ = nullptr;
    // The three interfaces of the filter the page holds (counted references).
    IUnknown* mediaParams_ = nullptr;
    IUnknown* uiCallback_ = nullptr;
    IUnknown* effectAccess_ = nullptr;
    bool editorOpen_ = false;
};

} // namespace pellucer::dx
