// The Chinese of tarvix-flash's help: each command's summary and description and each option's
// help, keyed by the English text that the command and option tables hold (the completion scripts
// take the English from there). Line breaks stand where the English has them, so that the option
// column stays aligned.
#include <cstring>
#include <iterator>

#include "base/local_text.h"
#include "ui/cli/cli_text.h"

namespace {

struct HelpEntry {
  const char* english;
  const char* chinese;
};

constexpr HelpEntry kHelp[] = {
    // list
    {"every attached controller: path, identity, mode, version",
     "列出连接的每个手柄：路径、标识、模式、版本"},
    {"Lists every attached controller: its path, identity (vendor:product), mode (boot loader or\n"
     "running firmware) and version; a boot loader's device type and memory layout too. --json:\n"
     "one JSON object, {\"schema\": 1, \"controllers\": [...]}.\n",
     "列出连接的每个手柄：路径、标识（厂商号:产品号）、模式（BOOT 模式或运行固件）和版本；\n"
     "处于 BOOT 模式的手柄还列出设备类型和内存布局。--json：输出一个 JSON 对象，\n"
     "{\"schema\": 1, \"controllers\": [...]}。\n"},
    // info
    {"the records of a firmware file and which controller takes which",
     "固件文件中的记录，以及每种手柄会用哪一条"},
    {"Shows every record of the firmware file (offset, version, target address, image size,\n"
     "device type), the checks the updater applies (cut short, empty image, past the end of the\n"
     "file, below the version floor), the SHA-256 of the file and of each record's image, and\n"
     "the record each kind of controller would take.\n"
     "Exits with 2 when the file cannot be read or no controller would take any of its records.\n",
     "显示固件文件的每条记录（偏移、版本、目标地址、固件大小、设备类型）、升级程序做的检查\n"
     "（被截断、固件为空、超出文件末尾、低于最低版本）、文件和每条记录固件的 SHA-256，\n"
     "以及每种手柄会用的记录。\n"
     "文件无法读取，或没有手柄会用其中任何一条记录时，退出码为 2。\n"},
    // flash
    {"write a firmware file into controllers", "将固件文件写入手柄"},
    {"Updates the controller (the only one attached, --device ID, or every one with --all) with\n"
     "its record of FILE.dat, in its boot loader or while it runs its firmware, after confirming\n"
     "the new version. A version older than the controller's needs --allow-older, the same one\n"
     "--allow-reinstall. Ctrl-C (or SIGTERM, SIGHUP) stops the update; a controller stopped\n"
     "part-way needs a whole update.\n",
     "确认新版本后，用 FILE.dat 中对应的记录更新手柄（唯一连接的那个、--device ID 指定的，\n"
     "或用 --all 同时更新全部）；手柄处于 BOOT 模式或运行固件时都可以。写入比手柄当前版本旧的\n"
     "版本需要 --allow-older，写入相同版本需要 --allow-reinstall。Ctrl-C（或 SIGTERM、SIGHUP）\n"
     "会停止更新；中途停止的手柄需要重新完整更新。\n"},
    // verify
    {"read a boot loader's image back and compare it with a firmware file",
     "回读 BOOT 模式下的固件，并与固件文件比较"},
    {"Reads the image of the controller (the only one attached, or --device ID) back and\n"
     "compares it with the record of FILE.dat that it would take. Only a boot loader can be read\n"
     "back.\n",
     "回读手柄（唯一连接的那个，或 --device ID 指定的）中的固件，并与它会用的 FILE.dat\n"
     "记录比较。只有处于 BOOT 模式的手柄可以回读。\n"},
    // watch
    {"flash every controller that is plugged in, until Ctrl-C",
     "为每个接入的手柄写入固件，直到按下 Ctrl-C"},
    {"A station: every controller plugged in is updated with its record of FILE.dat, at once with\n"
     "those already running, each with its result line and then the running tally. A controller\n"
     "is updated again only after it was unplugged. Ctrl-C (SIGTERM, SIGHUP) ends the watch: the\n"
     "running updates are stopped in order first, then the summary; --count N ends it after N\n"
     "results. The exit status is the worst of the results (0 when every one is done).\n",
     "工位模式：每个接入的手柄都用 FILE.dat 中对应的记录更新，与正在进行的更新同时进行，\n"
     "每个手柄一行结果，随后是当前统计。手柄拔出后再接入才会再次更新。Ctrl-C（SIGTERM、\n"
     "SIGHUP）结束监视：先有序停止正在进行的更新，再输出汇总；--count N 在得到 N 个结果后\n"
     "结束。退出码取最差的结果（全部完成时为 0）。\n"},
    // backup
    {"save a boot loader's image as a firmware file, to put it back later",
     "将 BOOT 模式下的固件保存为固件文件，以便日后恢复"},
    {"Reads from the boot loader (the only one attached, or --device ID) the region that an "
     "update\n"
     "with the record of FILE.dat (--like) would erase, and its version word, and writes them to\n"
     "OUT.dat as a record that flash takes: 'tarvix-flash flash OUT.dat' puts the controller back\n"
     "as it was. Nothing is written to the controller. Only a boot loader can be read.\n",
     "从 BOOT 模式的手柄（唯一连接的那个，或 --device ID 指定的）读出用 FILE.dat（--like）\n"
     "的记录更新时会擦除的区域及其版本字，写入 OUT.dat，成为 flash 可用的记录：\n"
     "“tarvix-flash flash OUT.dat”即可将手柄恢复原样。不会向手柄写入任何内容。\n"
     "只有处于 BOOT 模式的手柄可以读取。\n"},
    // completion
    {"the completion script of a shell: bash, zsh or fish", "bash、zsh 或 fish 的补全脚本"},
    {"Writes the completion script of SHELL (bash, zsh or fish) for tarvix-flash's commands and\n"
     "options. The packages install all three; by hand, for example:\n"
     "  tarvix-flash completion bash > ~/.local/share/bash-completion/completions/tarvix-flash\n"
     "or, in bash alone: source <(tarvix-flash completion bash).\n"
     "tarvix-flash completion devices writes the serial numbers, port paths and paths of the\n"
     "attached controllers, one a line: what the scripts offer after --device.\n",
     "输出 SHELL（bash、zsh 或 fish）中 tarvix-flash 命令和选项的补全脚本。安装包已装好\n"
     "这三种；手动安装的例子：\n"
     "  tarvix-flash completion bash > ~/.local/share/bash-completion/completions/tarvix-flash\n"
     "只用 bash 时也可以：source <(tarvix-flash completion bash)。\n"
     "tarvix-flash completion devices 每行输出一个已连接手柄的序列号、端口路径或路径，\n"
     "即各脚本在 --device 之后提供的候选。\n"},
    // the options
    {"the controller whose path, serial number or port path is ID\n(see tarvix-flash list)",
     "路径、序列号或端口路径为 ID 的手柄\n（见 tarvix-flash list）"},
    {"every attached controller, all at once", "连接的所有手柄，同时更新"},
    {"confirm without asking (needed without a terminal)", "不询问，直接确认（没有终端时必须加）"},
    {"boot loader: read the image back after writing, before the\nfinishing command, and compare",
     "BOOT 模式：写入后、结束命令前回读固件\n并比较"},
    {"wait for the controller to be plugged in, for SECONDS or for\never (Ctrl-C ends the wait)",
     "等待手柄接入，等 SECONDS 秒或一直等\n（按 Ctrl-C 结束等待）"},
    {"end the watch after N results", "得到 N 个结果后结束监视"},
    {"boot loader: before erasing, save what the erase destroys and\nthe version word as a "
     "record flash takes; no backup, no erase",
     "BOOT 模式：擦除前，把将被擦除的内容和版本字保存为\nflash 可用的记录；备份不成功就不擦除"},
    {"the firmware file whose record for the controller says which\nregion to save",
     "由该固件文件中对应手柄的记录\n决定保存哪个区域"},
    {"write a version older than the controller's", "写入比手柄当前版本旧的版本"},
    {"write the version the controller has already", "写入手柄已有的版本"},
    {"JSON: one document (list, info), or one event a line",
     "JSON 输出：一个文档（list、info），或每行一个事件"},
    {"result lines only: no progress", "只输出结果行，不显示进度"},
    {"the protocol trace on stderr; -vv adds a line for each report\n(direction, command, address, "
     "length, first bytes)",
     "在标准错误输出上显示协议跟踪；-vv "
     "为每个报告再加一行\n（方向、命令、地址、长度、开头的字节）"},
    {"append every line, the progress and the protocol trace to\nFILE, each with its time",
     "将每行输出、进度和协议跟踪追加到\nFILE，每行带时间"},
    {"virtual controllers instead of USB, one per mode: boot, app\nor a list (boot,app,boot)",
     "用虚拟手柄代替 USB，每种模式一个：boot、app\n或它们的列表（boot,app,boot）"},
    {"with --virtual: the virtual controllers keep their memory in\nDIR from one run to the next "
     "(a rehearsal)",
     "与 --virtual 一起用：虚拟手柄的存储内容保存在\nDIR 中，下次运行时继续使用（用于演练）"},
    {"this help", "显示此帮助"},
    {"the program's version", "显示程序版本"},
};

}  // namespace

const char* HelpText(const char* english, uint16_t language) {
  if (language != LANG_ZH_CN)
    return english;
  for (const HelpEntry& entry : kHelp) {
    if (std::strcmp(entry.english, english) == 0)
      return entry.chinese;
  }
  return nullptr;
}
