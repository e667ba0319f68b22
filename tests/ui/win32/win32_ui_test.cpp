// The resources compiled into the Windows programs: the string table written from the texts' one
// source, and dialog template 102 in dialog units.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <string>
#include <utility>
#include <vector>

#include "base/local_text.h"
#include "update/window_system.h"

namespace {

TEST(Win32Resources, TheStringTableHoldsTheTextsOfBothLanguages) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  for (uint16_t language : {LANG_EN_US, LANG_ZH_CN}) {
    const UINT first = language == LANG_ZH_CN ? 129 : 238;
    for (int index = TXT_SEARCH; index <= TXT_NOT_RECOGNIZED; ++index) {
      SCOPED_TRACE(testing::Message() << "language " << language << " index " << index);
      const wchar_t* text = nullptr;
      int length = ::LoadStringW(instance, first + index, reinterpret_cast<LPWSTR>(&text), 0);
      ASSERT_GT(length, 0);
      std::u16string expected = LoadLocalText(index, language);
      EXPECT_EQ(std::u16string(text, text + length), expected);
    }
  }
}

TEST(Win32Resources, TheTemplateHasTheFourControlsWhereTheyBelong) {
  // Laid out without showing: dialog units to pixels through the template's own font.
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ASSERT_TRUE(::InitCommonControlsEx(&controls));
  HWND dialog = ::CreateDialogParamW(
      ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_UPDATE_DIALOG), nullptr,
      [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
  ASSERT_NE(dialog, nullptr);
  // x, y, width, height in dialog units as the template gives them; id 0: the client area.
  const std::pair<int, RECT> cases[] = {
      {IDC_PROGRESS, {7, 7, 197, 14}},
      {IDC_HINT, {7, 25, 197, 55}},
      {IDC_DONE_LABEL, {59, 91, 85, 12}},
      {IDC_USB_UPDATE, {7, 109, 197, 22}},
      {0, {0, 0, 211, 138}},
  };
  for (auto [id, expected] : cases) {
    SCOPED_TRACE(id);
    HWND control = id ? ::GetDlgItem(dialog, id) : dialog;
    ASSERT_NE(control, nullptr);
    ::MapDialogRect(dialog, &expected);  // each figure on its own, as the dialog manager does
    RECT actual;                         // a control's border is part of it
    if (id == 0) {
      ::GetClientRect(dialog, &actual);
    } else {
      ::GetWindowRect(control, &actual);
      ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&actual), 2);
    }
    EXPECT_EQ(std::vector<LONG>({actual.left, actual.top, actual.right - actual.left,
                                 actual.bottom - actual.top}),
              std::vector<LONG>({expected.left, expected.top, expected.right, expected.bottom}));
  }
  ::DestroyWindow(dialog);
}

}  // namespace
