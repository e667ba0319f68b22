// tarvix-update-demo.exe: the updater's dialog on the virtual controller, on Windows.
// "tarvix-update-demo" (or "boot") attaches a controller in its boot loader, "tarvix-update-demo
// app" one running its firmware. F5 plugs the controller in, F6 unplugs it (also on the window's
// context menu). At the end it tells on stderr the version the controller now has; it ends with
// status 1 when its window could not be created.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/trace.h"
#include "base/wide_string.h"
#include "emulator/demo_sample.h"
#include "ui/win32/update_window.h"
#include "update/update_dlg.h"

namespace {

constexpr wchar_t kSampleName[] = L"tarvix-demo.dat";
constexpr uint32_t kReplyLatencyMs = 1;  // one USB frame

std::filesystem::path ProgramFolder() {
  std::wstring path(32768, L'\0');
  DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return std::filesystem::path(path).parent_path();
}

// Writes the sample beside the program, or in the temporary folder when that is not writable, and
// makes its folder the current one, where the open-file dialog starts.
std::filesystem::path WriteSample() {
  const std::vector<uint8_t> bytes = DemoSampleDat();
  std::error_code error;
  for (const std::filesystem::path& folder :
       {ProgramFolder(), std::filesystem::temp_directory_path(error)}) {
    std::filesystem::path path = folder / kSampleName;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out && ::SetCurrentDirectoryW(folder.c_str()))
      return path;
  }
  return {};
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  std::wstring mode = argc > 1 ? argv[1] : L"boot";
  bool usage = argc > 2 || (mode != L"boot" && mode != L"app");
  ::LocalFree(argv);
  if (usage) {
    std::fprintf(stderr, "usage: tarvix-update-demo [boot|app]\n");
    return 2;
  }
  const bool appMode = mode == L"app";
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  const TraceSink trace = WindowProgramTraceSink("tarvix-update-demo");
  // The system clock (the default) with a reply latency: the bar moves as with a real controller.
  VirtualHidPlatform platform;
  platform.Faults(kDemoPath).latencyMs = kReplyLatencyMs;
  const DemoController controller = MakeDemoController(appMode);

  const std::filesystem::path sample = WriteSample();
  if (sample.empty())
    std::fprintf(stderr, "demo: could not write the sample firmware file\n");
  else
    std::fprintf(stderr, "demo: sample firmware file %s\n",
                 Utf16ToUtf8(sample.u16string()).c_str());
  std::fprintf(stderr, "demo: virtual controller in %s; F5 plugs it in, F6 unplugs it\n",
               appMode ? "application mode" : "its boot loader");
  std::fflush(stderr);

  platform.Plug(kDemoPath, controller.vendorId, controller.productId, controller.model);
  bool ran = false;
  {
    CUpdateDlg dlg({&platform, trace, {}});
    Win32UpdateWindow window(&dlg);
    window.AddCommand(L"Plug in the virtual controller\tF5", VK_F5, [&] {
      if (!platform.IsPlugged(kDemoPath))
        platform.Plug(kDemoPath, controller.vendorId, controller.productId, controller.model);
    });
    window.AddCommand(L"Unplug the virtual controller\tF6", VK_F6, [&] {
      if (platform.IsPlugged(kDemoPath))
        platform.Unplug(kDemoPath);
    });
    ran = window.Run();
    std::string line = LastUpdateLine("tarvix-update-demo", dlg.Run().m_lastResult);
    if (!line.empty())
      std::fprintf(stderr, "%s\n", line.c_str());
  }
  std::string version = FormatHundredths(static_cast<uint32_t>(DemoControllerVersion(controller)));
  std::fprintf(stderr, "demo: the virtual controller's firmware is version %s\n", version.c_str());
  return ran ? 0 : 1;  // no window (traced): an error, not an update the user left
}
