#include "res/string_table.h"

#include <map>
#include <string>
#include <vector>

namespace {

struct StringEntry {
  uint32_t id;
  const char16_t* text;
};

// Chinese (PRC) set: ids 129..146.
const StringEntry kChineseTexts[] = {
    {129, u"搜索"},
    {130, u"更新"},
    {131, u"正在更新固件,是否立即停止？"},
    {132, u"文件类型中显示的内容"},
    {133, u"升级成功。"},
    {134, u"升级新固件"},
    {135, u"Tarvix Update v2.60"},
    {136, u"固件更新失败"},
    {137, u"正在搜索蓝牙设备"},
    {138, u"警告"},
    {139, u"打开蓝牙设备错误"},
    {140, u"固件更新失败,请将手柄工作在 BOOT 模式"},
    {141, u"USB 升级"},
    {142, u"请升级到最新版本"},
    {143,
     u"1. 按住 L+R+HOME 开机，电源指示灯闪烁。\r\n\r\n2. 插入 USB 线。\r\n\r\n3. 点击 USB "
     u"升级按钮，选择升级文件升级。"},
    {144, u"当前版本为"},
    {145,
     u"* If anything wrong. Hold START 8 seconds can reset controller. You can try to update "
     u"firmware again"},
    {146, u"固件不匹配！"},
};

// English set: ids 238..255.
const StringEntry kEnglishTexts[] = {
    {238, u"Search"},
    {239, u"Update"},
    {240, u"The new firmware is updating,and it is turned off"},
    {241, u"File type"},
    {242, u"Firmware upgraded!"},
    {243, u"New firmware"},
    {244, u"Tarvix Update v2.60"},
    {245, u"Firmware update failure"},
    {246, u"Searching for Bluetooth devices"},
    {247, u"warning"},
    {248, u"Open bluetooth error"},
    {249, u"Firmware update failure, please handle work in BOOT mode"},
    {250, u"USB Update"},
    {251,
     u"1. Press and hold L+R+HOME to power on               controller, LED on the top will blink "
     u"in red.\r\n\r\n2. Connect to PC via USB cable.\r\n\r\n3. Click \"USB Update\" button and "
     u"select firmware     file."},
    {252,
     u"1. Press and hold L+R+HOME to power on               controller, LED on the top will blink "
     u"in red.\r\n\r\n2. Connect to PC via USB cable.\r\n\r\n3. Click \"USB Update\" button and "
     u"select firmware     file."},
    {253, u"and current is"},
    {254,
     u"* If anything wrong. Hold START 8 seconds can reset controller. You can try to update "
     u"firmware again"},
    {255, u"The Firmware not recognized!"},
};

using Blocks = std::map<uint32_t, std::u16string>;

void AddEntries(std::map<uint32_t, std::u16string>& texts, const StringEntry* entries, size_t n) {
  for (size_t i = 0; i < n; ++i)
    texts[entries[i].id] = entries[i].text;
}

// Lays the texts out in blocks of sixteen count-prefixed entries. Only blocks that hold at least
// one text exist; their other ids are empty entries (count 0).
Blocks BuildBlocks() {
  std::map<uint32_t, std::u16string> texts;
  AddEntries(texts, kChineseTexts, std::size(kChineseTexts));
  AddEntries(texts, kEnglishTexts, std::size(kEnglishTexts));
  Blocks blocks;
  for (const auto& [id, text] : texts)
    blocks[id / 16 + 1];
  for (auto& [number, block] : blocks) {
    for (uint32_t slot = 0; slot < 16; ++slot) {
      auto it = texts.find((number - 1) * 16 + slot);
      const std::u16string empty;
      const std::u16string& text = it == texts.end() ? empty : it->second;
      block.push_back(static_cast<char16_t>(text.size()));
      block += text;
    }
  }
  return blocks;
}

}  // namespace

bool FindStringBlock(uint32_t blockNumber, const char16_t** units, size_t* unitCount) {
  static const Blocks blocks = BuildBlocks();
  auto it = blocks.find(blockNumber);
  if (it == blocks.end())
    return false;
  *units = it->second.data();
  *unitCount = it->second.size();
  return true;
}
