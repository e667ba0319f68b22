// tarvix-flash's own lines, in English and Simplified Chinese, in one table like the window's
// texts (res/string_table.cpp), and chosen by the same rule: the language the dialog takes
// (LANG_ZH_CN: Chinese, anything else English). "%1".."%3" stand for the line's values, in the
// order each language puts them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

enum class Say {
  kNoController,
  kDeviceNeedsPath,
  kDeviceAndAll,
  kSeveralAttached,
  kBootLoader,
  kRunningFirmware,
  kModeAndVersion,
  kUnknownVersion,
  kErasedVersion,
  kFileRefused,
  kNotConfirmed,
  kOlderRefused,
  kSameRefused,
  kStoppedReadBack,
  kStoppedFinishing,
  kStoppedTouched,
  kStoppedNothing,
  kUpdateFailed,
  kDidNotComplete,
  kVerifyNeedsBootLoader,
  kVerified,
  kNoTerminal,
  kGiveOneFile,
  kCannotOpenFile,
  kCannotReadBack,
  kVerifyFailed,
  kRecordRefused,
  kReadsBack,
  kControllers,
  kUpgradedCount,
  kFailedCount,
  kRefusedCount,
  kNotFoundCount,
  kNotPermittedCount,
  kNotUpdatedCount,
  kStoppedCount,
  kErasing,
  kWriting,
  kWritingVersion,
  kFinishing,
  kVerifying,
  kBackingUp,
  kAskUpdate,
  kUnknownOption,
  kNeedsValue,
  kTakesNoValue,
  kAmbiguousOption,
  kNotAnOptionOf,
  kUnknownCommand,
  kVirtualModes,
  kLogNotWritten,
  kListVersion,
  kListDeviceType,
  kListLayoutLabel,
  kListLayout,
  kListPort,
  kListSerial,
  kBackupNeedsBootLoader,
  kBackupExcludesAll,
  kBackupOverwritesFile,
  kBackupSaved,
  kBackupWritten,
  kBackupNeedsLike,
  kWaiting,
  kWaitSeconds,
  kNoControllerInTime,
  kWatching,
  kCountNumber,
  kVirtualStateNeedsVirtual,
  kVirtualStateUnreadable,
  kVirtualStateNotSaved,
  kMayNotBeFirmware,
  kOneController,
  kBackupCommandNeedsBootLoader,
  kStoppedTouchedInBootLoader,
  kCount
};

// The line in the language, its values put in.
std::string SayText(Say line, uint16_t language, std::initializer_list<std::string> values = {});
// The columns a line takes on a terminal: a CJK character takes two.
size_t DisplayWidth(const std::string& utf8);
