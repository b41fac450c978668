// The filter's property page as a DirectX host shows it: its caption and size, the effect's editor
// opening into the page when it is shown (once) and closing when it is hidden or deactivated.

#include <ocidl.h>

#include <cstdlib>
#include <filesystem>

#include "tests/dx/win32/DxTestSupport.h"
#include "tests/gui/PngFile.h"
#include "tests/gui/win32/EditorTestSupport.h"

namespace pellucer::dx::test {
namespace {

namespace gt = pellucer::gui::test;

/// The page window (the host window's first child) and the editor in it (its first child).
HWND pageWindow(const gt::HostWindow& host) { return GetWindow(host.handle(), GW_CHILD); }
HWND editorWindow(const gt::HostWindow& host) {
    HWND page = pageWindow(host);
    return page != nullptr ? GetWindow(page, GW_CHILD) : nullptr;
}

/// Where the page's picture goes: PELLUCER_SCREENSHOT_DIR when set, else beside the test program.
std::filesystem::path screenshotFolder() {
    if (const char* folder = std::getenv("PELLUCER_SCREENSHOT_DIR"))
        return folder;
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    return std::filesystem::path(program).parent_path();
}

class PropertyPage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lock_.held());
        ASSERT_EQ(S_OK, createEffectFilter(&filter));
        effect = effectRecordOf(filter.Get());
        ASSERT_NE(nullptr, effect);
        // The page the filter names, given the filter as a host gives it.
        ComPtr<ISpecifyPropertyPages> specify;
        CAUUID pages{};
        ASSERT_EQ(S_OK, filter->QueryInterface(IID_ISpecifyPropertyPages, &specify));
        ASSERT_EQ(S_OK, specify->GetPages(&pages));
        ASSERT_EQ(1u, pages.cElems);
        const CLSID pageClass = pages.pElems[0];
        CoTaskMemFree(pages.pElems);
        ASSERT_EQ(S_OK, createFromModule(pageClass, IID_IPropertyPage, &page));
        IUnknown* objects[] = {filter.Get()};
        ASSERT_EQ(S_OK, page->SetObjects(1, objects));
    }
    /// Whether the effect opens an editor (closed again at once): not while the page holds one.
    bool effectOpensAnEditor(HWND window) {
        const bool opened = effect->dispatcher(effect, vst::effEditOpen, 0, 0, window, 0.0f) != 0;
        effect->dispatcher(effect, vst::effEditClose, 0, 0, nullptr, 0.0f);
        return opened;
    }

    gt::WindowTestLock lock_;
    ComPtr<IBaseFilter> filter;
    vst::AEffect* effect = nullptr;
    ComPtr<IPropertyPage> page;
};

TEST_F(PropertyPage, TheFiltersOwnPageShowsTheEditorOfItsEffect) {
    PROPPAGEINFO info{};
    ASSERT_EQ(S_OK, page->GetPageInfo(&info));
    ASSERT_NE(nullptr, info.pszTitle);
    EXPECT_STREQ(L"VuvaDure", info.pszTitle);
    for (LPOLESTR text : {info.pszTitle, info.pszDocString, info.pszHelpFile})
        CoTaskMemFree(text);
    vst::ERect* rect = nullptr;
    ASSERT_NE(0, effect->dispatcher(effect, vst::effEditGetRect, 0, 0, &rect, 0.0f));
    EXPECT_GE(info.size.cx, rect->right - rect->left);
    EXPECT_GE(info.size.cy, rect->bottom - rect->top);
    EXPECT_EQ(E_POINTER, page->GetPageInfo(nullptr));
    EXPECT_EQ(E_POINTER, page->SetObjects(1, nullptr));

    gt::HostWindow host(info.size.cx + 20, info.size.cy + 20);
    const RECT area{0, 0, info.size.cx, info.size.cy};
    EXPECT_EQ(E_UNEXPECTED, page->Show(SW_SHOW)) << "before activation";
    EXPECT_EQ(E_UNEXPECTED, page->Deactivate());
    ASSERT_EQ(S_OK, page->Activate(host.handle(), &area, FALSE));
    EXPECT_EQ(E_UNEXPECTED, page->Activate(host.handle(), &area, FALSE));
    ASSERT_NE(nullptr, pageWindow(host));
    EXPECT_EQ(nullptr, editorWindow(host)) << "no editor before the page is shown";

    // Shown twice, opened once: one editor in the page, and the effect refuses a second one.
    ASSERT_EQ(S_OK, page->Show(SW_SHOW));
    ASSERT_EQ(S_OK, page->Show(SW_SHOWNORMAL));
    gt::settle();
    HWND editor = editorWindow(host);
    ASSERT_NE(nullptr, editor);
    EXPECT_EQ(nullptr, GetWindow(editor, GW_HWNDNEXT));
    EXPECT_FALSE(effectOpensAnEditor(host.handle()));

    // The page as the host shows it, with the editor in it: mostly drawn, not a blank dialog.
    const pellucer::gui::PixelBuffer shot = gt::captureWindow(pageWindow(host));
    ASSERT_FALSE(shot.empty());
    RECT editorRect{};
    GetClientRect(editor, &editorRect);
    const pellucer::gui::PixelBuffer blank(shot.width(), shot.height());
    EXPECT_GT(gt::changedPixels(shot, blank, {0, 0, shot.width(), shot.height()}),
              editorRect.right * editorRect.bottom / 2);
    const std::filesystem::path png = screenshotFolder() / "property-page.png";
    ASSERT_TRUE(gt::writePng(png, shot)) << png.string();

    ASSERT_EQ(S_OK, page->Show(SW_HIDE));
    gt::settle();
    EXPECT_EQ(nullptr, editorWindow(host)) << "hiding the page closes the editor";
    ASSERT_EQ(S_OK, page->Show(SW_SHOW));
    gt::settle();
    EXPECT_NE(nullptr, editorWindow(host)) << "and showing it again opens it again";
    ASSERT_EQ(S_OK, page->Deactivate());
    EXPECT_EQ(nullptr, pageWindow(host));
    EXPECT_TRUE(effectOpensAnEditor(host.handle())) << "the editor went with the page";
    EXPECT_EQ(S_OK, page->SetObjects(0, nullptr));
    page.Reset();
    filter->AddRef();
    EXPECT_EQ(1u, filter->Release()) << "the page let go of the filter";
}

} // namespace
} // namespace pellucer::dx::test
