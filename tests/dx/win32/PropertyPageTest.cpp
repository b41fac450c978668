// The filter's property page: its caption and size, and the effect's editor opening into the
// page window when the page is shown (once, however often it is shown) and closing when hidden.

#include <gtest/gtest.h>

#include <windows.h>

#include <ocidl.h>

#include <cstdlib>
#include <filesystem>

#include "dx/filter/EffectAccess.h"
#include "dx/server/Identifiers.h"
#include "dx/page/PropertyPage.h"
#include "tests/dx/win32/DxTestSupport.h"
#include "tests/gui/PngFile.h"
#include "tests/gui/win32/EditorTestSupport.h"
#include "vst/VstAbi.h"

extern "C" vst::AEffect* VSTPluginMain(vst::audioMasterCallback host);

namespace {

namespace gt = pellucer::gui::test;
using pellucer::dx::IEffectAccess;

/// Stands in for the filter: answers the effect-access interface with a real effect record.
class EffectHolder final : public IEffectAccess {
public:
    EffectHolder() : effect_(VSTPluginMain(&gt::AutomationLog::callback)) {
        if (effect_ != nullptr)
            log_.attach(effect_);
    }
    ~EffectHolder() {
        if (effect_ != nullptr) {
            effect_->dispatcher(effect_, vst::effEditClose, 0, 0, nullptr, 0.0f);
            effect_->dispatcher(effect_, vst::effClose, 0, 0, nullptr, 0.0f);
        }
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, pellucer::dx::kIidEffectAccess)) {
            *object = static_cast<IEffectAccess*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references_); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetEffect(vst::AEffect** effect) override {
        if (effect == nullptr)
            return E_POINTER;
        *effect = effect_;
        return S_OK;
    }
    vst::AEffect* effect() const { return effect_; }
    LONG references() const { return references_; }

private:
    vst::AEffect* effect_;
    gt::AutomationLog log_;
    LONG references_ = 1;
};

IPropertyPage* newPage() {
    HRESULT result = S_OK;
    IUnknown* object = pellucer::dx::createPropertyPage(nullptr, &result);
    if (object == nullptr)
        return nullptr;
    object->AddRef();
    IPropertyPage* page = nullptr;
    object->QueryInterface(IID_IPropertyPage, reinterpret_cast<void**>(&page));
    object->Release();
    return page;
}

/// The page window: the host window's first child.
HWND pageWindow(const gt::HostWindow& host) { return GetWindow(host.handle(), GW_CHILD); }
/// The editor: the page window's first child.
HWND editorWindow(const gt::HostWindow& host) {
    HWND page = pageWindow(host);
    return page != nullptr ? GetWindow(page, GW_CHILD) : nullptr;
}

TEST(PropertyPage, TellsItsCaptionAndASizeThatHoldsTheEditor) {
    EffectHolder holder;
    IPropertyPage* page = newPage();
    ASSERT_NE(page, nullptr);
    IUnknown* objects[] = {static_cast<IEffectAccess*>(&holder)};
    ASSERT_EQ(page->SetObjects(1, objects), S_OK);
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    ASSERT_NE(info.pszTitle, nullptr);
    EXPECT_STREQ(info.pszTitle, L"VuvaDure");
    CoTaskMemFree(info.pszTitle);
    vst::ERect* rect = nullptr;
    ASSERT_NE(holder.effect()->dispatcher(holder.effect(), vst::effEditGetRect, 0, 0, &rect, 0.0f), 0);
    EXPECT_GE(info.size.cx, rect->right - rect->left);
    EXPECT_GE(info.size.cy, rect->bottom - rect->top);
    EXPECT_EQ(page->GetPageInfo(nullptr), E_POINTER);
    EXPECT_EQ(page->SetObjects(1, nullptr), E_POINTER);
    EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(page->Release(), 0u);
    EXPECT_EQ(holder.references(), 1) << "the page let go of the filter";
}

TEST(PropertyPage, ShowingOpensTheEditorOnceAndHidingClosesIt) {
    gt::WindowTestLock lock;
    ASSERT_TRUE(lock.held());
    EffectHolder holder;
    gt::HostWindow host(900, 400);
    ASSERT_NE(host.handle(), nullptr);
    IPropertyPage* page = newPage();
    ASSERT_NE(page, nullptr);
    IUnknown* objects[] = {static_cast<IEffectAccess*>(&holder)};
    ASSERT_EQ(page->SetObjects(1, objects), S_OK);

    // Out of order before activation.
    EXPECT_EQ(page->Show(SW_SHOW), E_UNEXPECTED);
    EXPECT_EQ(page->Deactivate(), E_UNEXPECTED);
    const RECT rect{0, 0, 860, 360};
    ASSERT_EQ(page->Activate(host.handle(), &rect, FALSE), S_OK);
    EXPECT_EQ(page->Activate(host.handle(), &rect, FALSE), E_UNEXPECTED);
    ASSERT_NE(pageWindow(host), nullptr);
    EXPECT_EQ(editorWindow(host), nullptr) << "no editor before the page is shown";

    ASSERT_EQ(page->Show(SW_SHOW), S_OK);
    gt::settle();
    HWND editor = editorWindow(host);
    ASSERT_NE(editor, nullptr);
    ASSERT_EQ(page->Show(SW_SHOWNORMAL), S_OK); // shown again: still the same single editor
    gt::settle();
    EXPECT_EQ(editorWindow(host), editor);
    EXPECT_EQ(GetWindow(editor, GW_HWNDNEXT), nullptr);
    // A second open from elsewhere is refused while the page holds the editor.
    EXPECT_EQ(holder.effect()->dispatcher(holder.effect(), vst::effEditOpen, 0, 0, host.handle(), 0.0f), 0);

    ASSERT_EQ(page->Show(SW_HIDE), S_OK);
    gt::settle();
    EXPECT_EQ(editorWindow(host), nullptr) << "hiding the page closes the editor";
    ASSERT_EQ(page->Show(SW_SHOW), S_OK);
    gt::settle();
    EXPECT_NE(editorWindow(host), nullptr) << "and showing it again opens it again";

    ASSERT_EQ(page->Deactivate(), S_OK);
    EXPECT_EQ(pageWindow(host), nullptr);
    // The editor went with the page: the effect opens again into another window.
    EXPECT_EQ(holder.effect()->dispatcher(holder.effect(), vst::effEditOpen, 0, 0, host.handle(), 0.0f), 1);
    holder.effect()->dispatcher(holder.effect(), vst::effEditClose, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(page->Release(), 0u);
}

TEST(PropertyPage, ReleasedWhileShownClosesTheEditor) {
    gt::WindowTestLock lock;
    ASSERT_TRUE(lock.held());
    EffectHolder holder;
    gt::HostWindow host(900, 400);
    IPropertyPage* page = newPage();
    ASSERT_NE(page, nullptr);
    IUnknown* objects[] = {static_cast<IEffectAccess*>(&holder)};
    page->SetObjects(1, objects);
    const RECT rect{0, 0, 860, 360};
    ASSERT_EQ(page->Activate(host.handle(), &rect, FALSE), S_OK);
    page->Show(SW_SHOW);
    gt::settle();
    ASSERT_NE(editorWindow(host), nullptr);
    EXPECT_EQ(page->Release(), 0u);
    gt::settle();
    EXPECT_EQ(pageWindow(host), nullptr);
    EXPECT_EQ(holder.effect()->dispatcher(holder.effect(), vst::effEditOpen, 0, 0, host.handle(), 0.0f), 1);
    holder.effect()->dispatcher(holder.effect(), vst::effEditClose, 0, 0, nullptr, 0.0f);
}

// ---- as a DirectX host does it, through the module's classes ----------------------------------

/// An object of the module made by its class factory, as CoCreateInstance would.
template <class I> I* createFromModule(REFCLSID clsid, REFIID iid) {
    pellucer::dx::test::ComPtr<I> object;
    if (FAILED(pellucer::dx::test::createFromModule(clsid, iid, object)))
        return nullptr;
    object->AddRef(); // the caller's reference; the holder gives back its own
    return object.get();
}

/// Where the page's picture goes: PELLUCER_SCREENSHOT_DIR when set, else beside the test program.
std::filesystem::path screenshotFolder() {
    if (const char* folder = std::getenv("PELLUCER_SCREENSHOT_DIR"))
        return folder;
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    return std::filesystem::path(program).parent_path();
}

TEST(PropertyPage, TheFiltersOwnPageShowsTheEditorOfItsEffect) {
    gt::WindowTestLock lock;
    ASSERT_TRUE(lock.held());
    IBaseFilter* filter = createFromModule<IBaseFilter>(pellucer::dx::kClsidEffectFilter, IID_IBaseFilter);
    ASSERT_NE(filter, nullptr);
    ISpecifyPropertyPages* specify = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&specify)), S_OK);
    CAUUID pages{};
    ASSERT_EQ(specify->GetPages(&pages), S_OK);
    specify->Release();
    ASSERT_EQ(pages.cElems, 1u);
    const CLSID pageClass = pages.pElems[0];
    CoTaskMemFree(pages.pElems);
    IPropertyPage* page = createFromModule<IPropertyPage>(pageClass, IID_IPropertyPage);
    ASSERT_NE(page, nullptr);

    // The host hands the page its filter; the page finds the effect through it.
    IUnknown* objects[] = {filter};
    ASSERT_EQ(page->SetObjects(1, objects), S_OK);
    IEffectAccess* access = nullptr;
    ASSERT_EQ(filter->QueryInterface(pellucer::dx::kIidEffectAccess, reinterpret_cast<void**>(&access)), S_OK);
    vst::AEffect* effect = nullptr;
    ASSERT_EQ(access->GetEffect(&effect), S_OK);
    access->Release();
    ASSERT_NE(effect, nullptr);

    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    gt::HostWindow host(info.size.cx + 20, info.size.cy + 20);
    ASSERT_NE(host.handle(), nullptr);
    const RECT rect{0, 0, info.size.cx, info.size.cy};
    if (info.pszTitle != nullptr)
        CoTaskMemFree(info.pszTitle);
    if (info.pszDocString != nullptr)
        CoTaskMemFree(info.pszDocString);
    if (info.pszHelpFile != nullptr)
        CoTaskMemFree(info.pszHelpFile);
    ASSERT_EQ(page->Activate(host.handle(), &rect, FALSE), S_OK);

    // Shown twice, opened once: one editor in the page, and the effect refuses a second one.
    ASSERT_EQ(page->Show(SW_SHOW), S_OK);
    ASSERT_EQ(page->Show(SW_SHOW), S_OK);
    gt::settle();
    HWND editor = editorWindow(host);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(GetWindow(editor, GW_HWNDNEXT), nullptr);
    EXPECT_EQ(effect->dispatcher(effect, vst::effEditOpen, 0, 0, host.handle(), 0.0f), 0);

    // The page as the host shows it, with the editor in it: mostly drawn, not a blank dialog.
    const pellucer::gui::PixelBuffer shot = gt::captureWindow(pageWindow(host));
    ASSERT_FALSE(shot.empty());
    RECT editorRect{};
    GetClientRect(editor, &editorRect);
    const pellucer::gui::PixelBuffer blank(shot.width(), shot.height());
    EXPECT_GT(gt::changedPixels(shot, blank, {0, 0, shot.width(), shot.height()}),
              editorRect.right * editorRect.bottom / 2);
    const std::filesystem::path png = screenshotFolder() / "property-page.png";
    ASSERT_TRUE(pellucer::gui::test::writePng(png, shot)) << png.string();
    EXPECT_GT(std::filesystem::file_size(png), static_cast<uintmax_t>(shot.width() * shot.height() * 3));

    ASSERT_EQ(page->Show(SW_HIDE), S_OK);
    gt::settle();
    EXPECT_EQ(editorWindow(host), nullptr) << "hiding the page closes the editor";
    EXPECT_EQ(effect->dispatcher(effect, vst::effEditIdle, 0, 0, nullptr, 0.0f), 0) << "no editor left open";

    ASSERT_EQ(page->Deactivate(), S_OK);
    EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(page->Release(), 0u);
    EXPECT_EQ(filter->Release(), 0u);
}

} // namespace
