#include "ui/cli/cli_text.h"

#include <iterator>

#include "base/local_text.h"

namespace {

struct Entry {
  Say line;
  const char* english;
  const char* chinese;
};

// In the order of Say: a missing or misplaced row is caught where the table is read.
constexpr Entry kLines[] = {
    {Say::kNoController, "no controller found", "未找到手柄"},
    {Say::kDeviceNeedsPath,
     "--device needs a path, a serial number or a port path (see tarvix-flash list)",
     "--device 需要路径、序列号或端口路径（见 tarvix-flash list）"},
    {Say::kDeviceAndAll, "--device and --all exclude each other", "--device 与 --all 不能同时使用"},
    {Say::kSeveralAttached,
     "several controllers are attached; name one with --device (a path, serial number or port "
     "path), or use --all:",
     "连接了多个手柄；请用 --device（路径、序列号或端口路径）指定一个，或使用 --all："},
    {Say::kBootLoader, "boot loader", "BOOT 模式"},
    {Say::kRunningFirmware, "running firmware", "运行固件"},
    {Say::kModeAndVersion, "%1, version %2", "%1，版本 %2"},
    {Say::kUnknownVersion, "unknown", "未知"},
    {Say::kErasedVersion, "erased", "已擦除"},
    {Say::kFileRefused, "file refused (%1): %2", "文件被拒绝（%1）：%2"},
    {Say::kNotConfirmed, "not updated: the new version was not confirmed",
     "未更新：新版本未获确认"},
    {Say::kOlderRefused,
     "not updated: %1 is older than the controller's %2; add --allow-older to write it anyway",
     "未更新：%1 比手柄当前的 %2 旧；如仍要写入，请加 --allow-older"},
    {Say::kSameRefused,
     "not updated: the controller has %1 already; add --allow-reinstall to write it again",
     "未更新：手柄已是 %1；如要重新写入，请加 --allow-reinstall"},
    {Say::kStoppedReadBack,
     "update stopped during the read-back: the image and version are written but were not "
     "verified, and the boot loader was not told to finish",
     "更新在回读时停止：固件和版本已写入但未校验，也未通知 BOOT 模式结束"},
    {Say::kStoppedFinishing,
     "update stopped at the finishing command; the image and version are written whole",
     "更新在结束命令处停止；固件和版本已完整写入"},
    {Say::kStoppedTouched,
     "update stopped; the controller needs a whole update: put it in its boot loader (L+R+HOME) "
     "and flash it again",
     "更新已停止；手柄需要完整更新：请按住 L+R+HOME 开机进入 BOOT 模式后重新写入"},
    {Say::kStoppedNothing, "update stopped; nothing was written", "更新已停止；未写入任何内容"},
    {Say::kUpdateFailed, "update failed: %1", "更新失败：%1"},
    {Say::kDidNotComplete, "the update did not complete", "更新未完成"},
    {Say::kVerifyNeedsBootLoader,
     "--verify: a controller running its firmware cannot be read back; nothing was written (put "
     "it in its boot loader)",
     "--verify：运行固件的手柄无法回读；未写入任何内容（请让它进入 BOOT 模式）"},
    {Say::kVerified, " (verified)", "（已校验）"},
    {Say::kTransferFigures, " (%1 bytes in %2 s, %3 KiB/s)", "（%1 字节，用时 %2 秒，%3 KiB/秒）"},
    {Say::kTransferTime, " (%1 bytes in %2 s)", "（%1 字节，用时 %2 秒）"},
    {Say::kNoTerminal, "no terminal to ask for the confirmation on; add --yes to update anyway",
     "没有可以询问确认的终端；如要直接更新，请加 --yes"},
    {Say::kGiveOneFile, "%1: give one firmware file (see tarvix-flash %1 --help)",
     "%1：请给出一个固件文件（见 tarvix-flash %1 --help）"},
    {Say::kCannotOpenFile, "%1: cannot be opened: %2", "%1：无法打开：%2"},
    {Say::kCannotReadBack,
     "a controller running its firmware cannot be read back (put it in its boot loader)",
     "运行固件的手柄无法回读（请让它进入 BOOT 模式）"},
    {Say::kVerifyFailed, "verify failed: %1", "校验失败：%1"},
    {Say::kRecordRefused, "%1: refused: %2", "%1：被拒绝：%2"},
    {Say::kReadsBack, "%1 (%2 bytes)", "%1（%2 字节）"},
    {Say::kControllers, "%1 controllers:", "%1 个手柄："},
    {Say::kUpgradedCount, "%1 upgraded", "%1 个已升级"},
    {Say::kFailedCount, "%1 failed", "%1 个失败"},
    {Say::kRefusedCount, "%1 refused the file", "%1 个拒绝了文件"},
    {Say::kNotFoundCount, "%1 not found", "%1 个未找到"},
    {Say::kNotPermittedCount, "%1 not permitted", "%1 个无权限"},
    {Say::kNotUpdatedCount, "%1 not updated", "%1 个未更新"},
    {Say::kStoppedCount, "%1 stopped", "%1 个已停止"},
    {Say::kErasing, "erasing", "擦除"},
    {Say::kWriting, "writing", "写入"},
    {Say::kWritingVersion, "version", "版本"},
    {Say::kFinishing, "finishing", "结束"},
    {Say::kVerifying, "verifying", "校验"},
    {Say::kBackingUp, "backing up", "备份"},
    {Say::kAskUpdate, "Update? [y/N]", "是否更新？[y/N]"},
    {Say::kAskUpdateAll, "Update these %1 controllers? [y/N]", "是否更新这 %1 个手柄？[y/N]"},
    {Say::kAskUpdateOne, "Update this controller? [y/N]", "是否更新这个手柄？[y/N]"},
    {Say::kUnknownOption, "unknown option %1", "未知选项 %1"},
    {Say::kNeedsValue, "%1 needs a value", "%1 需要一个值"},
    {Say::kTakesNoValue, "%1 takes no value", "%1 不带值"},
    {Say::kAmbiguousOption, "option %1 is ambiguous: %2", "选项 %1 有歧义：%2"},
    {Say::kNotAnOptionOf, "%1 is not an option of %2 (see tarvix-flash %2 --help)",
     "%1 不是 %2 的选项（见 tarvix-flash %2 --help）"},
    {Say::kUnknownCommand, "unknown command '%1' (see tarvix-flash --help)",
     "未知命令“%1”（见 tarvix-flash --help）"},
    {Say::kVirtualModes, "--virtual takes boot, app or a list of them: boot,app,boot",
     "--virtual 取 boot、app 或它们的列表：boot,app,boot"},
    {Say::kLogNotWritten, "%1: the log cannot be written", "%1：无法写入日志"},
    {Say::kListVersion, "version", "版本"},
    {Say::kListDeviceType, "device type", "设备类型"},
    {Say::kListLayoutLabel, "layout", "内存布局"},
    {Say::kListLayout, "image %1, version area %2, identity %3", "固件 %1，版本区 %2，标识 %3"},
    {Say::kListPort, "port", "端口"},
    {Say::kListSerial, "serial", "序列号"},
    {Say::kBackupNeedsBootLoader,
     "--backup: a controller running its firmware cannot be read; nothing was written (put it in "
     "its boot loader)",
     "--backup：运行固件的手柄无法读取；未写入任何内容（请让它进入 BOOT 模式）"},
    {Say::kBackupExcludesAll, "flash: --backup takes one controller; it excludes --all",
     "flash：--backup 只用于一个手柄，不能与 --all 同时使用"},
    {Say::kBackupOverwritesFile, "%1: --backup must not overwrite the firmware file",
     "%1：--backup 不能覆盖固件文件"},
    {Say::kBackupSaved, "what the update erased was saved to %1", "更新擦除的内容已保存到 %1"},
    {Say::kBackupWritten, "%1 bytes at %2 and version %3 saved to %4",
     "已将 %2 处的 %1 字节和版本 %3 保存到 %4"},
    {Say::kBackupNeedsLike,
     "backup: give one output file and --like FILE.dat (see tarvix-flash "
     "backup --help)",
     "backup：请给出一个输出文件和 --like FILE.dat（见 tarvix-flash backup --help）"},
    {Say::kWaiting, "waiting for a controller to be plugged in (Ctrl-C ends the wait)",
     "正在等待连接手柄（按 Ctrl-C 结束等待）"},
    {Say::kWaitSeconds, "--wait takes a number of seconds, e.g. --wait=30",
     "--wait 取秒数，例如 --wait=30"},
    {Say::kNoControllerInTime, "no controller was plugged in within %1 s", "%1 秒内未连接手柄"},
    {Say::kWatching, "watching: every controller plugged in is updated; Ctrl-C ends",
     "监视中：每个连接的手柄都会被更新；按 Ctrl-C 结束"},
    {Say::kCountNumber, "--count takes a number of controllers, e.g. --count=10",
     "--count 取手柄数量，例如 --count=10"},
    {Say::kVirtualStateNeedsVirtual, "--virtual-state goes with --virtual",
     "--virtual-state 须与 --virtual 一起使用"},
    {Say::kVirtualStateUnreadable,
     "%1: not a virtual controller's memory of that kind; remove it to start afresh",
     "%1：不是该类虚拟手柄的存储内容；删除它即可重新开始"},
    {Say::kVirtualStateNotSaved, "%1: the virtual controller's memory cannot be kept",
     "%1：无法保存虚拟手柄的存储内容"},
    {Say::kMayNotBeFirmware,
     "warning: %1: no boot loader takes any record of this file; it may not be a firmware file",
     "警告：%1：没有任何 BOOT 模式接受此文件中的记录；它可能不是固件文件"},
    {Say::kOneController, "1 controller:", "1 个手柄："},
    {Say::kBackupCommandNeedsBootLoader,
     "a controller running its firmware cannot be read; nothing was saved (put it in its boot "
     "loader)",
     "运行固件的手柄无法读取；未保存任何内容（请让它进入 BOOT 模式）"},
    {Say::kStoppedTouchedInBootLoader,
     "update stopped; the controller needs a whole update: it is still in its boot loader, "
     "flash it again",
     "更新已停止；手柄需要完整更新：它仍处于 BOOT 模式，请重新写入"},
    // The help.
    {Say::kUsage, "usage: %1", "用法：%1"},
    {Say::kUsageSummary, "Lists, inspects, flashes and verifies Tarvix gamepads on USB.",
     "列出、检查、写入和校验通过 USB 连接的 Tarvix 手柄。"},
    {Say::kCommandsHeading, "Commands:", "命令："},
    {Say::kHelpSummary, "the help of a command: tarvix-flash help COMMAND",
     "某个命令的帮助：tarvix-flash help COMMAND"},
    {Say::kTellsMore, "'tarvix-flash COMMAND --help' tells more.",
     "更多说明见“tarvix-flash COMMAND --help”。"},
    {Say::kExitCodes,
     "Exit codes: 0 done, 1 failed, 2 usage error or file refused, 3 no controller found,\n"
     "4 no permission to open a controller, 5 nothing done (declined, or the version guard),\n"
     "128+N stopped in order by signal N (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP).",
     "退出码：0 完成，1 失败，2 用法错误或文件被拒绝，3 未找到手柄，\n"
     "4 无权打开手柄，5 什么也没做（未确认，或版本检查未通过），\n"
     "128+N 因信号 N 有序停止（130 Ctrl-C，143 SIGTERM，129 SIGHUP）。"},
    {Say::kOptionsHeading, "Options:", "选项："},
    {Say::kCommonOptionsHeading, "Options of every command:", "所有命令通用的选项："},
    // info's report.
    {Say::kInfoCannotRead, "%1: cannot be opened or read", "%1：无法打开或读取"},
    {Say::kInfoNoneTakes, "%1: no controller takes any record of this file",
     "%1：没有手柄会用此文件中的任何记录"},
    {Say::kInfoFileOneRecord, "%1: %2 bytes, %3 record, chain %4",
     "%1：%2 字节，%3 条记录，记录链%4"},
    {Say::kInfoFileRecords, "%1: %2 bytes, %3 records, chain %4",
     "%1：%2 字节，%3 条记录，记录链%4"},
    {Say::kInfoRecord,
     "record %1 at offset %2: version %3, target %4, image %5 bytes, device type %6",
     "记录 %1，偏移 %2：版本 %3，目标地址 %4，固件 %5 字节，设备类型 %6"},
    {Say::kInfoChecks, "  checks: %1", "  检查：%1"},
    {Say::kInfoImageInside, "image inside the file", "固件在文件之内"},
    {Say::kInfoBelowFloor, "; below the version floor of 0x0105 variant %1 (%2)",
     "；低于 0x0105 变体 %1 的最低版本（%2）"},
    {Say::kInfoWhichRecord, "which record each controller takes:", "每种手柄会用的记录："},
    {Say::kInfoTakesRecord, "record %1", "记录 %1"},
    {Say::kInfoTakesNone, "none: %1", "无：%1"},
    {Say::kChainWhole, "whole", "完整"},
    {Say::kChainUnreadable, "unreadable", "无法读取"},
    {Say::kChainCutShort, "a header cut short by the end of the file", "有记录头被文件末尾截断"},
    {Say::kChainWraps, "an image size that runs past 4 GiB", "有固件大小超过 4 GiB"},
    {Say::kChainTooLong, "more than 1024 records", "超过 1024 条记录"},
    {Say::kKindBoot3009, "boot loader, device type 0x3009", "BOOT 模式，设备类型 0x3009"},
    {Say::kKindBootUntyped, "boot loader giving no device type", "不报设备类型的 BOOT 模式"},
    {Say::kKindBootOther, "boot loader, device type %1", "BOOT 模式，设备类型 %1"},
    {Say::kKindApp0105Variant01, "running firmware 0x0105, variant 0 or 1",
     "运行固件 0x0105，变体 0 或 1"},
    {Say::kKindApp0105Variant2, "running firmware 0x0105, variant 2", "运行固件 0x0105，变体 2"},
    // The causes the core gives.
    {Say::kRefusalCannotOpen, "the file cannot be opened", "文件无法打开"},
    {Say::kRefusalNoRecord, "no record for this controller", "没有适用于此手柄的记录"},
    {Say::kRefusalCutShort, "cut short", "文件被截断"},
    {Say::kRefusalEmptyImage, "empty image", "固件为空"},
    {Say::kRefusalPastEnd, "image runs past the end of the file", "固件超出文件末尾"},
    {Say::kRefusalOtherAddress, "meant for another address", "用于其他地址"},
    {Say::kRefusalBelowFloor, "below the version floor", "低于最低版本"},
    {Say::kFileMissing, "No such file or directory", "文件不存在"},
    {Say::kFileNoPermission, "Permission denied", "没有权限"},
    {Say::kFileNotAFile, "not a regular file", "不是普通文件"},
    {Say::kFileHeld, "held by another program", "被其他程序占用"},
    {Say::kFileCannotOpen, "cannot be opened", "无法打开"},
    {Say::kOpenAccessDenied,
     "access denied; install the udev rule to use the controller without root",
     "没有权限；安装 udev 规则后无需 root 即可使用手柄"},
    {Say::kOpenBusy, "busy: another program is talking to it", "忙：另一个程序正在与它通信"},
    {Say::kOpenFailed, "cannot be opened", "无法打开"},
    {Say::kOpenFailedBecause, "cannot be opened: %1", "无法打开：%1"},
    {Say::kCheckSame, "the image reads back as in the file", "回读的固件与文件一致"},
    {Say::kCheckDiffers, "first difference at %1 (file %2, controller %3)",
     "第一处不同在 %1（文件 %2，手柄 %3）"},
    {Say::kCheckNoAnswer, "no answer to the read at %1", "读取 %1 时无应答"},
    {Say::kCheckStopped, "the read-back was stopped at %1", "回读在 %1 处停止"},
    {Say::kCheckUnreadable, "the firmware file cannot be read", "固件文件无法读取"},
    {Say::kWithCause, "%1 (%2)", "%1（%2）"},
};
static_assert(std::size(kLines) == static_cast<size_t>(Say::kCount), "one row for each line");

constexpr bool InOrder() {
  for (size_t i = 0; i < std::size(kLines); ++i) {
    if (static_cast<size_t>(kLines[i].line) != i)
      return false;
  }
  return true;
}
static_assert(InOrder(), "the rows follow the order of Say");

}  // namespace

std::string SayText(Say line, uint16_t language, std::initializer_list<std::string> values) {
  const Entry& entry = kLines[static_cast<size_t>(line)];
  const std::string text = language == LANG_ZH_CN ? entry.chinese : entry.english;
  std::string filled;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t index = i + 1 < text.size() ? static_cast<size_t>(text[i + 1] - '1') : 9;
    if (text[i] == '%' && index < values.size()) {
      filled += values.begin()[index];
      ++i;
    } else {
      filled += text[i];
    }
  }
  return filled;
}

size_t DisplayWidth(const std::string& utf8) {
  size_t width = 0;
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    // Three bytes from U+2E80 on (E2 BA 80) and four-byte characters are CJK or wider: two
    // columns; the rest one.
    const bool wide =
        length == 4 ||
        (length == 3 &&
         (lead > 0xE2 || (i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0xBA)));
    width += wide ? 2 : 1;
    i += length;
  }
  return width;
}
